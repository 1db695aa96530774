#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform.h"

namespace platform {

namespace {

// The caller's signal mask, kept while the interrupt signals are held.
sigset_t mask_before_hold;

}  // namespace

std::vector<std::string> command_arguments(int argc, char* argv[]) {
  if (argc < 1) {
    return {};
  }
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::FILE* open_regular_file(const std::string& name) {
  // Look before opening so that a device is never opened at all, and check
  // again on the open descriptor in case the entry changed in between.
  struct stat status {};
  if (::stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return nullptr;
  }
  // O_NONBLOCK keeps a FIFO swapped in after the check from blocking the open.
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "rb");
  if (stream == nullptr) {
    ::close(fd);
  }
  return stream;
}

bool entry_exists(const std::string& name) {
  struct stat status {};
  return ::lstat(name.c_str(), &status) == 0;
}

std::FILE* create_work_file(const std::string& name) {
  struct stat status {};
  if (::lstat(name.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode) || ::unlink(name.c_str()) != 0) {
      return nullptr;
    }
  }
  // Exclusive creation: whatever appears under the name meanwhile, a planted
  // symbolic link included, makes this fail instead of being written through.
  const int fd =
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    ::close(fd);
    ::unlink(name.c_str());
  }
  return stream;
}

bool copy_owner_and_mode(std::FILE* input, std::FILE* work) {
  struct stat status {};
  if (::fstat(::fileno(input), &status) != 0) {
    return false;
  }
  const int fd = ::fileno(work);
  mode_t mode = status.st_mode & 07777;
  // Set-id bits must not survive on a file that belongs to someone else.
  if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID);
    if (::fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0) {
      mode &= ~static_cast<mode_t>(S_ISGID);
    }
  }
  return ::fchmod(fd, mode) == 0;
}

bool close_synced(std::FILE* work) {
  bool succeeded = std::fflush(work) == 0;
  succeeded = ::fsync(::fileno(work)) == 0 && succeeded;
  succeeded = std::fclose(work) == 0 && succeeded;
  return succeeded;
}

bool move_no_replace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return false;
  }
  // The file system does not know the flag. A hard link never replaces an
  // existing entry either, and linkat without AT_SYMLINK_FOLLOW links a
  // symbolic link itself.
  if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0) {
    return false;
  }
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

bool remove_entry(const std::string& name) { return ::unlink(name.c_str()) == 0; }

void sync_directory_of(const std::string& name) {
  const std::string::size_type slash = name.rfind('/');
  std::string directory = ".";
  if (slash == 0) {
    directory = "/";
  } else if (slash != std::string::npos) {
    directory = name.substr(0, slash);
  }
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void ignore_broken_pipe() { static_cast<void>(std::signal(SIGPIPE, SIG_IGN)); }

void hold_interrupts() {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  sigaddset(&interrupts, SIGHUP);
  sigaddset(&interrupts, SIGQUIT);
  sigprocmask(SIG_BLOCK, &interrupts, &mask_before_hold);
}

void release_interrupts() { sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr); }

}  // namespace platform
