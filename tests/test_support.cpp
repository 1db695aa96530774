#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test_support {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Lets the owner into every directory below path again, so that a test that
// took permissions away cannot stop the clean-up.
void restore_permissions(const fs::path& path) {
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(path, error))) {
    return;
  }
  ::chmod(path.c_str(), 0700);
  for (const auto& entry : fs::directory_iterator(path, error)) {
    restore_permissions(entry.path());
  }
}

void collect(const fs::path& root, const fs::path& dir, Listing& listing) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    // Not fs::relative, which would resolve symbolic links.
    const std::string relative = entry.path().string().substr(root.string().size() + 1);
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0) {
      fail("lstat " + entry.path().string());
    }
    std::ostringstream description;
    description << std::oct << (status.st_mode & 07777) << ' ';
    if (S_ISLNK(status.st_mode)) {
      description << "link -> " << fs::read_symlink(entry.path()).string();
    } else if (S_ISDIR(status.st_mode)) {
      description << "directory";
      collect(root, entry.path(), listing);
    } else if (S_ISREG(status.st_mode)) {
      if (::access(entry.path().c_str(), R_OK) == 0) {
        description.str(describe_regular_file(read_file(entry.path()), status.st_mode & 07777));
      } else {
        description << "unreadable file " << std::dec << status.st_size << " bytes";
      }
    } else if (S_ISFIFO(status.st_mode)) {
      description << "fifo";
    } else {
      description << "other";
    }
    listing[relative] = description.str();
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vorna-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail("mkdtemp");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  restore_permissions(path_);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail("read " + path);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes, mode_t mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      fail("write " + path);
    }
  }
  if (::chmod(path.c_str(), mode) != 0) {
    fail("chmod " + path);
  }
}

std::string bytes(std::initializer_list<int> values) {
  std::string result;
  for (const int value : values) {
    result.push_back(static_cast<char>(value));
  }
  return result;
}

std::string counting_bytes(std::size_t count) {
  std::string result(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    result[i] = static_cast<char>(i & 0xFF);
  }
  return result;
}

std::string describe_regular_file(const std::string& bytes, mode_t mode) {
  std::ostringstream description;
  description << std::oct << mode << " file " << std::dec << bytes.size() << " bytes: ";
  for (const char c : bytes.substr(0, 16)) {
    static const char digits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    description << digits[byte >> 4U] << digits[byte & 0xFU];
  }
  // A checksum over the rest keeps long files comparable without printing them.
  unsigned long long checksum = 1469598103934665603ULL;
  for (const char c : bytes) {
    checksum = (checksum ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  description << " fnv " << std::hex << checksum;
  return description.str();
}

Listing list_directory(const std::string& path) {
  Listing listing;
  collect(path, path, listing);
  return listing;
}

RunResult run_vorna(const std::string& dir, const std::vector<std::string>& args,
                    const RunOptions& options) {
  const std::string binary = options.binary.empty() ? VORNA_BINARY : options.binary;
  std::vector<std::string> argv_strings{binary};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_strings) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
    fail("pipe");
  }
  const pid_t child = ::fork();
  if (child < 0) {
    fail("fork");
  }
  if (child == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    if (::chdir(dir.c_str()) != 0) {
      ::_exit(126);
    }
    if (options.in_child) {
      options.in_child();
    }
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (options.close_stdout_reader) {
    ::close(out_pipe[0]);
    out_pipe[0] = -1;
  }

  RunResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = options.close_stdout_reader ? 1 : 2;
  while (open_count > 0) {
    // A run takes milliseconds; thirty seconds means it is stuck (blocked on
    // a FIFO, say), which is a failure rather than a hung test.
    const int ready = ::poll(fds, 2, 30000);
    if (ready <= 0) {
      ::kill(child, SIGKILL);
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) {
      ::close(fd.fd);
    }
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) {
    fail("waitpid");
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

bool running_as_root() { return ::geteuid() == 0; }

void drop_privileges_in_child() {
  if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedGroup) != 0 ||
      ::setuid(kUnprivilegedUser) != 0) {
    ::_exit(125);
  }
}

std::string copy_binary_into(const std::string& dir) {
  const std::string copy = dir + "/vorna";
  fs::copy_file(VORNA_BINARY, copy, fs::copy_options::overwrite_existing);
  if (::chmod(dir.c_str(), 0755) != 0 || ::chmod(copy.c_str(), 0755) != 0) {
    fail("chmod " + copy);
  }
  return copy;
}

}  // namespace test_support
