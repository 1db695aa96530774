// End-to-end: the built vorna run in a fresh directory, checked by its exit
// status, the exact bytes on standard output and standard error, and every
// entry the directory holds afterwards.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#endif

#include <filesystem>

#include "test_support.h"

using test_support::as_text;
using test_support::bytes;
using test_support::counting_bytes;
using test_support::describe_regular_file;
using test_support::exists;
using test_support::list_directory;
using test_support::Listing;
using test_support::make_directory;
using test_support::read_file;
using test_support::run_vorna;
using test_support::RunOptions;
using test_support::RunResult;
using test_support::TempDir;
using test_support::write_file;

namespace {

const std::string kUsage =
    "VORNA.EXE: cut top 4-byte header (for QUENWORT)\n"
    "Usage: vorna file\n";
// The Shift JIS bytes of the four messages, each ending in ".\n".
const std::string kCannotRead =
    bytes({0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8b, 0x82, 0xf0, 0x93, 0xc7, 0x82,
           0xdd, 0x8d, 0x9e, 0x82, 0xdf, 0x82, 0xdc, 0x82, 0xb9, 0x82, 0xf1, 0x2e, 0x0a});
const std::string kBackupExists =
    bytes({0x83, 0x6f, 0x83, 0x62, 0x83, 0x4e, 0x83, 0x41, 0x83, 0x62, 0x83, 0x76, 0x83,
           0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8b, 0x82, 0xaa, 0x8a, 0xf9, 0x82, 0xc9,
           0x91, 0xb6, 0x8d, 0xdd, 0x82, 0xb5, 0x82, 0xdc, 0x82, 0xb7, 0x2e, 0x0a});
const std::string kCannotWrite =
    bytes({0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8b, 0x82, 0xf0, 0x8f, 0x91, 0x82,
           0xab, 0x8d, 0x9e, 0x82, 0xdf, 0x82, 0xdc, 0x82, 0xb9, 0x82, 0xf1, 0x2e, 0x0a});

const std::string kCannotReplace = bytes(
    {0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8b, 0x82, 0xf0, 0x92, 0x75, 0x82, 0xab, 0x8a,
     0xb7, 0x82, 0xa6, 0x82, 0xe7, 0x82, 0xea, 0x82, 0xdc, 0x82, 0xb9, 0x82, 0xf1, 0x2e, 0x0a});

const std::string kDemoHeader = bytes({0x00, 0x10, 0x40, 0x10});
const std::string kDemoReport = "START=1000 END=1040 SIZE=003f\n";

// Runs vorna expecting a refusal: status 1, message on standard error,
// expected_out on standard output, and the directory exactly as it was.
void expect_refusal(const TempDir& dir, const std::vector<std::string>& args,
                    const std::string& message, const std::string& expected_out = "",
                    const RunOptions& options = {}) {
  const Listing before = list_directory(dir.path());
  const RunResult result = run_vorna(dir.path(), args, options);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, as_text(message));
  EXPECT_EQ(result.out, as_text(expected_out));
  EXPECT_EQ(list_directory(dir.path()), before);
}

// Runs vorna on name expecting a completed cut: status 0, the report line,
// nothing on standard error.
void expect_cut(const TempDir& dir, const std::string& name, const std::string& report,
                const RunOptions& options = {}) {
  const RunResult result = run_vorna(dir.path(), {name}, options);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, as_text(report));
  EXPECT_EQ(result.err, "");
}

TEST(Cut, KeepsTheAnnouncedBodyUnderTheNameAndTheUncutFileAsBackup) {
  const std::string hundred = counting_bytes(100);
  const std::string long_body = counting_bytes(70000);
  const std::string control = bytes({'\r', '\n', 0x00, 0x1A, '\n', 0xFF});
  const struct {
    const char* what;
    std::string input;
    std::string report;
    std::string body;
  } cases[] = {
      {"first 64 of 100 bytes kept", kDemoHeader + hundred, kDemoReport, hundred.substr(0, 64)},
      {"empty file", "", "START=ffff END=ffff SIZE=ffffffff\n", ""},
      {"header cut short", bytes({0x00, 0x10}), "START=1000 END=ffff SIZE=effe\n", ""},
      {"END equals START", bytes({0x00, 0x10, 0x00, 0x10}) + hundred,
       "START=1000 END=1000 SIZE=ffffffff\n", ""},
      {"END one past START", bytes({0x00, 0x10, 0x01, 0x10}) + hundred,
       "START=1000 END=1001 SIZE=0000\n", hundred.substr(0, 1)},
      {"END below START", bytes({0x40, 0x10, 0x00, 0x10}) + hundred,
       "START=1040 END=1000 SIZE=ffffffbf\n", ""},
      {"body shorter than announced", kDemoHeader + "abc", kDemoReport, "abc"},
      {"widest body", bytes({0x00, 0x00, 0xFF, 0xFF}) + long_body,
       "START=0000 END=ffff SIZE=fffe\n", long_body.substr(0, 65535)},
      {"control bytes untouched", bytes({0x00, 0x10, 0x06, 0x10}) + control,
       "START=1000 END=1006 SIZE=0005\n", control},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "image.bin", c.input);
    expect_cut(dir, "image.bin", c.report);
    const Listing expected{{"image.bin", describe_regular_file(c.body, 0644)},
                           {"image.bin.bak", describe_regular_file(c.input, 0644)}};
    EXPECT_EQ(list_directory(dir.path()), expected);
  }
}

TEST(Cut, ANameBeginningWithADashIsStillAFileName) {
  TempDir dir;
  write_file(dir / "-v", kDemoHeader + "body");
  expect_cut(dir, "-v", kDemoReport);
  const Listing expected{{"-v", describe_regular_file("body", 0644)},
                         {"-v.bak", describe_regular_file(kDemoHeader + "body", 0644)}};
  EXPECT_EQ(list_directory(dir.path()), expected);
}

TEST(Cut, PutsTheBackupBesideTheFileWhateverTheDirectoryPart) {
  std::vector<std::string> directories{"sub/dir/"};
#ifdef _WIN32
  directories.push_back("sub\\dir\\");
#else
  // Over 400 bytes, beyond any fixed 260-byte buffer.
  std::string deep;
  for (int level = 0; level < 7; ++level) {
    deep += std::string(60, static_cast<char>('a' + level)) + "/";
  }
  directories.push_back(deep);
#endif
  for (const std::string& directory : directories) {
    SCOPED_TRACE(directory);
    TempDir dir;
    make_directory(dir / directory);
    write_file(dir / (directory + "f"), kDemoHeader + "body");
    expect_cut(dir, directory + "f", kDemoReport);
    EXPECT_EQ(read_file(dir / (directory + "f")), "body");
    EXPECT_EQ(read_file(dir / (directory + "f.bak")), kDemoHeader + "body");
    EXPECT_FALSE(exists(dir / (directory + "f.$$$")));
  }
}

TEST(Cut, ReplacesALeftoverWorkFileWithoutWritingIntoIt) {
  const struct {
    const char* what;
    bool hard_link;
  } cases[] = {{"leftover regular file", false}, {"leftover hard link to another file", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "f", kDemoHeader + "body", 0600);
    write_file(dir / "other", "other file's bytes, longer than the body");
    Listing expected{
        {"f", describe_regular_file("body", 0600)},
        {"f.bak", describe_regular_file(kDemoHeader + "body", 0600)},
        {"other", describe_regular_file("other file's bytes, longer than the body", 0644)}};
    if (c.hard_link) {
      std::filesystem::create_hard_link(std::filesystem::u8path(dir / "other"),
                                        std::filesystem::u8path(dir / "f.$$$"));
    } else {
      write_file(dir / "f.$$$", "half-written garbage from an interrupted run");
    }
    expect_cut(dir, "f", kDemoReport);
    EXPECT_EQ(list_directory(dir.path()), expected);
  }
}

TEST(Usage, WrongArgumentCountPrintsTheBannerAndTouchesNothing) {
  const std::vector<std::string> calls[] = {{}, {"f", "f"}, {"f", "g", "h"}};
  for (const auto& args : calls) {
    SCOPED_TRACE(args.size());
    TempDir dir;
    write_file(dir / "f", kDemoHeader + "body");
    write_file(dir / "g", kDemoHeader + "body");
    expect_refusal(dir, args, kUsage);
  }
}

TEST(Refusal, InputThatIsNotARegularFileIsNeverOpenedForCutting) {
  const struct {
    const char* what;
    std::string name;
    void (*make)(const std::string& path);
  } cases[] = {
      {"missing file", "f", [](const std::string&) {}},
      {"empty argument", "", [](const std::string&) {}},
      {"name longer than the system allows", std::string(300, 'n'), [](const std::string&) {}},
#ifdef _WIN32
      {"device name", "NUL", [](const std::string&) {}},
#endif
      {"directory", "f", [](const std::string& path) { make_directory(path); }},
#ifndef _WIN32
      {"FIFO, without blocking", "f",
       [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }},
      {"symlink to a device", "f",
       [](const std::string& path) { ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0); }},
      {"symlink loop", "f",
       [](const std::string& path) { ASSERT_EQ(::symlink("f", path.c_str()), 0); }},
      {"socket", "f",
       [](const std::string& path) {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         ASSERT_LT(path.size(), sizeof address.sun_path);
         path.copy(address.sun_path, path.size());
         ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(fd);
       }},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.make(dir / "f");
    expect_refusal(dir, {c.name}, kCannotRead);
  }
}

TEST(Refusal, BackupNameHeldByAnyEntryAtAll) {
  const struct {
    const char* what;
    void (*make)(const std::string& path);
  } cases[] = {
      {"readable file", [](const std::string& path) { write_file(path, "old backup", 0644); }},
      {"empty file", [](const std::string& path) { write_file(path, "", 0644); }},
      {"directory", [](const std::string& path) { make_directory(path); }},
#ifndef _WIN32
      {"file without read permission",
       [](const std::string& path) { write_file(path, "old backup", 0); }},
      {"dangling symlink",
       [](const std::string& path) { ASSERT_EQ(::symlink("nowhere", path.c_str()), 0); }},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "f", kDemoHeader + "body");
    c.make(dir / "f.bak");
    expect_refusal(dir, {"f"}, kBackupExists);
  }
}

TEST(Refusal, SecondRunOnACutFileIsRefusedByItsBackup) {
  TempDir dir;
  write_file(dir / "f", kDemoHeader + kDemoHeader + "body");
  expect_cut(dir, "f", kDemoReport);
  expect_refusal(dir, {"f"}, kBackupExists);
}

TEST(Refusal, WorkNameHeldByAnythingButARegularFileIsLeftAlone) {
  const struct {
    const char* what;
    void (*make)(const std::string& path);
  } cases[] = {
      {"directory", [](const std::string& path) { make_directory(path); }},
#ifndef _WIN32
      {"symlink to another file",
       [](const std::string& path) { ASSERT_EQ(::symlink("other", path.c_str()), 0); }},
      {"dangling symlink",
       [](const std::string& path) { ASSERT_EQ(::symlink("planted", path.c_str()), 0); }},
      {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "f", kDemoHeader + "body");
    write_file(dir / "other", "must stay as it is");
    c.make(dir / "f.$$$");
    expect_refusal(dir, {"f"}, kCannotWrite);
  }
}

#ifndef _WIN32

TEST(Cut, KeepsThePermissionBitsOfTheFile) {
  for (const mode_t mode : {0600, 0640, 0644, 0444, 0755, 0700}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    write_file(dir / "f", kDemoHeader + "body", mode);
    expect_cut(dir, "f", kDemoReport);
    const Listing expected{{"f", describe_regular_file("body", mode)},
                           {"f.bak", describe_regular_file(kDemoHeader + "body", mode)}};
    EXPECT_EQ(list_directory(dir.path()), expected);
  }
}

TEST(Cut, GivesTheBodyTheOwnerAndGroupOfTheFile) {
  if (!test_support::running_as_root()) {
    GTEST_SKIP() << "only root can make a file owned by another user";
  }
  TempDir dir;
  write_file(dir / "f", kDemoHeader + "body", 0640);
  ASSERT_EQ(::chown((dir / "f").c_str(), test_support::kUnprivilegedUser,
                    test_support::kUnprivilegedGroup),
            0);
  expect_cut(dir, "f", kDemoReport);
  struct stat status {};
  ASSERT_EQ(::stat((dir / "f").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, test_support::kUnprivilegedUser);
  EXPECT_EQ(status.st_gid, test_support::kUnprivilegedGroup);
  EXPECT_EQ(status.st_mode & 07777, 0640U);
}

TEST(Cut, ASymlinkArgumentBecomesTheBackupAndItsTargetStaysUntouched) {
  TempDir dir;
  write_file(dir / "target", kDemoHeader + "body");
  ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);
  expect_cut(dir, "link", kDemoReport);
  const Listing expected{{"link", describe_regular_file("body", 0644)},
                         {"link.bak", "777 link -> target"},
                         {"target", describe_regular_file(kDemoHeader + "body", 0644)}};
  EXPECT_EQ(list_directory(dir.path()), expected);
}

TEST(Cut, AReportLineThatCannotBeWrittenDoesNotStopTheCut) {
  TempDir dir;
  write_file(dir / "f", kDemoHeader + "body");
  RunOptions options;
  options.close_stdout_reader = true;
  const RunResult result = run_vorna(dir.path(), {"f"}, options);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(dir / "f"), "body");
  EXPECT_EQ(read_file(dir / "f.bak"), kDemoHeader + "body");
}

TEST(Refusal, WriteFailureRemovesTheWorkFileAndKeepsTheFile) {
  // A file-size limit fails the work file's writes as a full disk would:
  // a small body at the final flush, a large one in the middle of the copy.
  const struct {
    const char* what;
    rlim_t limit;
    std::string input;
  } cases[] = {
      {"small body fails at the flush", 16, kDemoHeader + counting_bytes(100)},
      {"large body fails during the copy", 8192,
       bytes({0x00, 0x00, 0xFF, 0xFF}) + counting_bytes(65535)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "f", c.input);
    RunOptions options;
    const rlim_t limit = c.limit;
    options.in_child = [limit] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit file_size{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &file_size);
    };
    const std::string report = c.input.substr(0, 4) == kDemoHeader
                                   ? kDemoReport
                                   : std::string("START=0000 END=ffff SIZE=fffe\n");
    expect_refusal(dir, {"f"}, kCannotWrite, report, options);
  }
}

TEST(Refusal, ReadFailureRemovesTheWorkFileAndKeepsTheFile) {
  // vorna's own memory image reads as a regular file whose first page is not
  // mapped, so the first read of the header fails with an I/O error.
  TempDir dir;
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "f").c_str()), 0);
  expect_refusal(dir, {"f"}, kCannotRead);
}

TEST(Refusal, BackupNameTooLongForTheSystemIsRefusedAtTheWorkFile) {
  // The name fits the system's 255-byte limit; with ".bak" or ".$$$" it does not.
  TempDir dir;
  const std::string name(253, 'n');
  write_file(dir / name, kDemoHeader + "body");
  expect_refusal(dir, {name}, kCannotWrite);
}

TEST(Refusal, PermissionsTheUserLacks) {
  const struct {
    const char* what;
    mode_t file_mode;
    mode_t directory_mode;
    const std::string& message;
  } cases[] = {
      {"file without read permission", 0200, 0777, kCannotRead},
      {"directory without write permission", 0644, 0555, kCannotWrite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TempDir binary_dir;
    write_file(dir / "f", kDemoHeader + "body", c.file_mode);
    RunOptions options;
    if (test_support::running_as_root()) {
      options.binary = test_support::copy_binary_into(binary_dir.path());
      options.in_child = test_support::drop_privileges_in_child;
      ASSERT_EQ(::chown(dir.path().c_str(), test_support::kUnprivilegedUser,
                        test_support::kUnprivilegedGroup),
                0);
      ASSERT_EQ(::chown((dir / "f").c_str(), test_support::kUnprivilegedUser,
                        test_support::kUnprivilegedGroup),
                0);
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), c.directory_mode), 0);
    expect_refusal(dir, {"f"}, c.message, "", options);
  }
}

TEST(Refusal, AFileThatCannotBeMovedIsReportedAndLeftInPlace) {
  // In a sticky directory only a file's owner may rename it: another user
  // can read the file and create the work file beside it, but the first
  // move fails.
  if (!test_support::running_as_root()) {
    GTEST_SKIP() << "needs a file owned by another user than the one running vorna";
  }
  TempDir dir;
  TempDir binary_dir;
  write_file(dir / "f", kDemoHeader + "body", 0644);
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  RunOptions options;
  options.binary = test_support::copy_binary_into(binary_dir.path());
  options.in_child = test_support::drop_privileges_in_child;
  expect_refusal(dir, {"f"}, kCannotReplace, kDemoReport, options);
}

#else

TEST(Windows, ReportLineAndMessagesEndInCarriageReturnLineFeed) {
  TempDir dir;
  write_file(dir / "f", kDemoHeader + "body");
  const RunResult cut = run_vorna(dir.path(), {"f"});
  EXPECT_EQ(cut.out, "START=1000 END=1040 SIZE=003f\r\n");
  const RunResult refused = run_vorna(dir.path(), {"f"});
  EXPECT_EQ(refused.err, kBackupExists.substr(0, kBackupExists.size() - 1) + "\r\n");
  const RunResult usage = run_vorna(dir.path(), {});
  EXPECT_EQ(usage.err, "VORNA.EXE: cut top 4-byte header (for QUENWORT)\r\nUsage: vorna file\r\n");
}

TEST(Windows, CutsAFileWhoseNameIsOutsideTheAnsiCodePage) {
  TempDir dir;
  const std::string name = "\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf.bin";  // データ.bin
  write_file(dir / name, kDemoHeader + "body");
  expect_cut(dir, name, kDemoReport);
  const Listing expected{{name, describe_regular_file("body")},
                         {name + ".bak", describe_regular_file(kDemoHeader + "body")}};
  EXPECT_EQ(list_directory(dir.path()), expected);
}

#endif

}  // namespace
