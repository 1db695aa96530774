#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace platform {

namespace {

// File names travel through the rest of vorna as UTF-8, so that any name
// Windows accepts works, whatever the ANSI code page.
std::wstring to_wide(const std::string& name) {
  if (name.empty()) {
    return std::wstring();
  }
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                           static_cast<int>(name.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                        wide.data(), length);
  return wide;
}

std::string to_utf8(const wchar_t* wide) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return std::string();
  }
  std::string name(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, name.data(), length, nullptr, nullptr);
  name.pop_back();  // the terminating zero
  return name;
}

// Wraps a handle in a C stream, closing the handle if that fails.
std::FILE* stream_for(HANDLE handle, int open_flags, const char* mode) {
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), open_flags);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(fd, mode);
  if (stream == nullptr) {
    ::_close(fd);
  }
  return stream;
}

volatile LONG control_events_held = 0;

BOOL WINAPI hold_control_event(DWORD /*event*/) {
  ::InterlockedIncrement(&control_events_held);
  return TRUE;
}

}  // namespace

std::vector<std::string> command_arguments(int /*argc*/, char* /*argv*/[]) {
  // The narrow argv has already lost every character outside the ANSI code
  // page; the wide command line has not.
  int count = 0;
  LPWSTR* wide_arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide_arguments == nullptr) {
    return arguments;
  }
  for (int i = 1; i < count; ++i) {
    arguments.push_back(to_utf8(wide_arguments[i]));
  }
  ::LocalFree(wide_arguments);
  return arguments;
}

std::FILE* open_regular_file(const std::string& name) {
  const std::wstring wide = to_wide(name);
  if (wide.empty()) {
    return nullptr;
  }
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory cannot be opened at all;
  // the type check turns away devices such as CON and NUL.
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileType(handle) != FILE_TYPE_DISK ||
      ::GetFileInformationByHandle(handle, &information) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  return stream_for(handle, _O_RDONLY | _O_BINARY, "rb");
}

bool entry_exists(const std::string& name) {
  const std::wstring wide = to_wide(name);
  if (wide.empty()) {
    return false;
  }
  if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  // Only "there is nothing under that name" lets the run go on; an entry that
  // cannot be looked at (access denied, in use) counts as present.
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return false;
    default:
      return true;
  }
}

std::FILE* create_work_file(const std::string& name) {
  const std::wstring wide = to_wide(name);
  if (wide.empty()) {
    return nullptr;
  }
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        ::DeleteFileW(wide.c_str()) == 0) {
      return nullptr;
    }
  }
  // CREATE_NEW fails whenever anything has appeared under the name meanwhile.
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  std::FILE* stream = stream_for(handle, _O_WRONLY | _O_BINARY, "wb");
  if (stream == nullptr) {
    ::DeleteFileW(wide.c_str());
  }
  return stream;
}

bool copy_owner_and_mode(std::FILE* /*input*/, std::FILE* /*work*/) {
  // A new file takes its access rights from the directory, as the file it
  // replaces did; there are no permission bits to carry over.
  return true;
}

bool close_synced(std::FILE* work) {
  bool succeeded = std::fflush(work) == 0;
  succeeded = ::_commit(::_fileno(work)) == 0 && succeeded;
  succeeded = std::fclose(work) == 0 && succeeded;
  return succeeded;
}

bool move_no_replace(const std::string& from, const std::string& to) {
  const std::wstring wide_from = to_wide(from);
  const std::wstring wide_to = to_wide(to);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
  return !wide_from.empty() && !wide_to.empty() &&
         ::MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool remove_entry(const std::string& name) {
  const std::wstring wide = to_wide(name);
  return !wide.empty() && ::DeleteFileW(wide.c_str()) != 0;
}

void sync_directory_of(const std::string& /*name*/) {
  // NTFS journals renames itself; a directory cannot be flushed from here.
}

void ignore_broken_pipe() {
  // A closed pipe fails the write with an error; no signal to ignore.
}

void hold_interrupts() {
  control_events_held = 0;
  ::SetConsoleCtrlHandler(hold_control_event, TRUE);
}

void release_interrupts() {
  ::SetConsoleCtrlHandler(hold_control_event, FALSE);
  if (control_events_held != 0) {
    // What the default handler would have done when the event came.
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

}  // namespace platform
