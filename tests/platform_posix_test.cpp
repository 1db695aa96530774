#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform.h"
#include "test_support.h"

using test_support::describe_regular_file;
using test_support::list_directory;
using test_support::Listing;
using test_support::TempDir;
using test_support::write_file;

namespace {

TEST(MoveNoReplace, RefusesEveryKindOfExistingDestinationAndChangesNothing) {
  const struct {
    const char* what;
    void (*make_destination)(const std::string& path);
  } cases[] = {
      {"regular file", [](const std::string& path) { write_file(path, "kept", 0644); }},
      {"unreadable file", [](const std::string& path) { write_file(path, "kept", 0); }},
      {"directory", [](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); }},
      {"dangling symlink",
       [](const std::string& path) { ASSERT_EQ(::symlink("nowhere", path.c_str()), 0); }},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_file(dir / "from", "moving");
    c.make_destination(dir / "to");
    const Listing before = list_directory(dir.path());
    EXPECT_FALSE(platform::move_no_replace(dir / "from", dir / "to")) << c.what;
    EXPECT_EQ(list_directory(dir.path()), before) << c.what;
  }
}

TEST(MoveNoReplace, MovesASymlinkItselfAndNotItsTarget) {
  TempDir dir;
  write_file(dir / "target", "target bytes");
  ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);
  EXPECT_TRUE(platform::move_no_replace(dir / "link", dir / "moved"));
  const Listing expected{{"moved", "777 link -> target"},
                         {"target", describe_regular_file("target bytes", 0644)}};
  EXPECT_EQ(list_directory(dir.path()), expected);
}

volatile std::sig_atomic_t signals_seen = 0;

TEST(HoldInterrupts, InterruptSignalsTakeEffectOnlyWhenReleased) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    signals_seen = 0;
    const auto previous = std::signal(signal_number, [](int) { signals_seen = signals_seen + 1; });
    platform::hold_interrupts();
    std::raise(signal_number);
    EXPECT_EQ(signals_seen, 0) << "signal " << signal_number;
    platform::release_interrupts();
    EXPECT_EQ(signals_seen, 1) << "signal " << signal_number;
    std::signal(signal_number, previous);
  }
}

}  // namespace
