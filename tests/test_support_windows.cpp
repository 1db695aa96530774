// Running vorna.exe as a child process on Windows. Its standard output and
// error go to files in a directory of their own, outside the one under test.
#include <windows.h>

#include <stdexcept>

#include "test_support.h"

namespace test_support {

namespace {

std::wstring to_wide(const std::string& utf8) {
  if (utf8.empty()) {
    return std::wstring();
  }
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return wide;
}

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes are literal except before a quote, where they are doubled.
std::wstring quoted(const std::wstring& argument) {
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, L'\\');
  return result + L"\"";
}

std::wstring built_binary() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L"\\/") + 1) + L"vorna.exe";
}

HANDLE inheritable_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create an output file");
  }
  return handle;
}

}  // namespace

RunResult run_vorna(const std::string& dir, const std::vector<std::string>& args,
                    const RunOptions& options) {
  const std::wstring binary = options.binary.empty() ? built_binary() : to_wide(options.binary);
  std::wstring command_line = quoted(binary);
  for (const std::string& arg : args) {
    command_line += L" " + quoted(to_wide(arg));
  }

  TempDir outputs;
  const std::wstring out_path = to_wide(outputs / "stdout");
  const std::wstring err_path = to_wide(outputs / "stderr");
  HANDLE out = inheritable_file(out_path);
  HANDLE err = inheritable_file(err_path);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(binary.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, to_wide(dir).c_str(), &startup, &process);
  ::CloseHandle(out);
  ::CloseHandle(err);
  if (started == 0) {
    throw std::runtime_error("cannot start vorna.exe");
  }
  // A run takes milliseconds; thirty seconds means it is stuck.
  if (::WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 255);
    ::WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD exit_code = 0;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  RunResult result;
  result.exit_status = static_cast<int>(exit_code);
  result.out = read_file(outputs / "stdout");
  result.err = read_file(outputs / "stderr");
  return result;
}

}  // namespace test_support
