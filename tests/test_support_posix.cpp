// Running vorna as a child process on POSIX.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "test_support.h"

namespace fs = std::filesystem;

namespace test_support {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

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
