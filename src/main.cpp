// vorna: cuts the 4-byte top header off a file in place, keeping the uncut
// file beside it as NAME.bak.
//
// The run: check the argument; open the file; refuse if a backup exists;
// create the work file NAME.$$$; read the header and report it; copy the body
// into the work file; sync it; move the file to NAME.bak and the work file to
// NAME. Exit status 0 after a completed run, 1 after any refusal or failure,
// which always leaves the file where it was.

#include <cstdio>
#include <string>
#include <vector>

#include "backup.h"
#include "messages.h"
#include "platform.h"
#include "top_header.h"

namespace {

int fail_with(std::string_view message) {
  messages::write_message(message);
  return 1;
}

int discard_work_file(std::FILE* work, const std::string& work_name, std::string_view message) {
  // The work file is thrown away, so how its closing went does not matter.
  static_cast<void>(std::fclose(work));
  platform::remove_entry(work_name);
  return fail_with(message);
}

// Everything from the work file's creation to the end of the moves, which
// runs with interrupts held so that it is never left half done.
int cut_in_place(std::FILE* input, const std::string& name, const std::string& work_name,
                 const std::string& backup_name) {
  std::FILE* work = platform::create_work_file(work_name);
  if (work == nullptr) {
    return fail_with(messages::cannot_write);
  }

  const TopHeader header = read_top_header(input);
  if (std::ferror(input) != 0) {
    return discard_work_file(work, work_name, messages::cannot_read);
  }
  report_top_header(header);

  switch (copy_body(input, work, header.size)) {
    case CopyResult::complete:
      break;
    case CopyResult::read_failed:
      return discard_work_file(work, work_name, messages::cannot_read);
    case CopyResult::write_failed:
      return discard_work_file(work, work_name, messages::cannot_write);
  }

  if (!platform::copy_owner_and_mode(input, work)) {
    return discard_work_file(work, work_name, messages::cannot_write);
  }
  // Only read from, so closing it cannot lose anything.
  static_cast<void>(std::fclose(input));
  if (!platform::close_synced(work)) {
    platform::remove_entry(work_name);
    return fail_with(messages::cannot_write);
  }

  const ReplaceResult replaced = replace_with_backup(name, work_name, backup_name);
  platform::sync_directory_of(name);
  if (replaced != ReplaceResult::replaced) {
    return fail_with(messages::cannot_replace);
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  platform::ignore_broken_pipe();

  const std::vector<std::string> arguments = platform::command_arguments(argc, argv);
  if (arguments.size() != 1) {
    return fail_with(messages::usage);
  }
  const std::string& name = arguments.front();
  const std::string work_name = name + ".$$$";
  const std::string backup_name = name + ".bak";

  std::FILE* input = platform::open_regular_file(name);
  if (input == nullptr) {
    return fail_with(messages::cannot_read);
  }
  if (probe_backup(backup_name)) {
    return 1;
  }

  platform::hold_interrupts();
  const int status = cut_in_place(input, name, work_name, backup_name);
  platform::release_interrupts();
  return status;
}
