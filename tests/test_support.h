// Helpers for tests that work on real files: a temporary directory, whole-file
// reads and writes, a listing of everything in a directory, and a way to run
// the built vorna binary there and collect what it printed. File names are
// UTF-8 on every platform.
#pragma once

#include <sys/types.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace test_support {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
// mode sets the permission bits where the platform has them.
void write_file(const std::string& path, const std::string& bytes, int mode = 0644);
void make_directory(const std::string& path);
bool exists(const std::string& path);

// Bytes from a list of values, for fixtures written as hex.
std::string bytes(std::initializer_list<int> values);
// count bytes counting up from 0 and wrapping at 256.
std::string counting_bytes(std::size_t count);
// What a text stream writes for s: line feeds become CR LF on Windows.
std::string as_text(const std::string& s);

// Every entry below a directory, by relative path, described by its type,
// permission bits (where the platform has them) and content (a regular file's
// bytes or a link's target).
using Listing = std::map<std::string, std::string>;
Listing list_directory(const std::string& path);
std::string describe_regular_file(const std::string& bytes, int mode = 0644);

struct RunResult {
  int exit_status = -1;  // the exit status, or -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

struct RunOptions {
#ifndef _WIN32
  // Runs in the child after fork, before exec: limits, signals, privileges.
  std::function<void()> in_child;
  // Makes standard output a pipe nobody reads from.
  bool close_stdout_reader = false;
#endif
  // The binary to run; the one this build made unless set.
  std::string binary;
};

// Runs vorna with args (after the program's name) in directory dir.
RunResult run_vorna(const std::string& dir, const std::vector<std::string>& args,
                    const RunOptions& options = {});

#ifndef _WIN32
// For tests whose point is a permission check that root would bypass: as
// root, such a test runs vorna as an unprivileged user instead.
bool running_as_root();
constexpr uid_t kUnprivilegedUser = 65534;
constexpr gid_t kUnprivilegedGroup = 65534;
// In a child: become kUnprivilegedUser (exits the child at once on failure).
void drop_privileges_in_child();
// Copies the built binary into dir (made world-readable), so that an
// unprivileged user can run it wherever the build tree lies; returns its path.
std::string copy_binary_into(const std::string& dir);
#endif

}  // namespace test_support
