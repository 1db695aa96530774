#include "backup.h"

#include "messages.h"

bool probe_backup(const std::string& backup_name) {
  if (!platform::entry_exists(backup_name)) {
    return false;
  }
  messages::write_message(messages::backup_exists);
  return true;
}

ReplaceResult replace_with_backup(const std::string& name, const std::string& work_name,
                                  const std::string& backup_name, MoveFunction move) {
  if (!move(name, backup_name)) {
    platform::remove_entry(work_name);
    return ReplaceResult::unchanged;
  }
  if (move(work_name, name)) {
    return ReplaceResult::replaced;
  }
  if (!move(backup_name, name)) {
    return ReplaceResult::left_apart;
  }
  platform::remove_entry(work_name);
  return ReplaceResult::rolled_back;
}
