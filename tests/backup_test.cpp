#include "backup.h"

#include <gtest/gtest.h>

#include <set>

#include "test_support.h"

using test_support::describe_regular_file;
using test_support::list_directory;
using test_support::Listing;
using test_support::TempDir;
using test_support::write_file;

namespace {

// Which calls of the move function fail, counting from 1; the others move for real.
std::set<int> failing_moves;
int moves_made = 0;

bool move_failing_on_request(const std::string& from, const std::string& to) {
  ++moves_made;
  if (failing_moves.count(moves_made) != 0) {
    return false;
  }
  return platform::move_no_replace(from, to);
}

const std::string kUncut = "uncut file bytes";
const std::string kBody = "body";

TEST(ReplaceWithBackup, EveryOutcomeKeepsBothTheUncutFileAndTheBodyOrTheFile) {
  const std::string uncut = describe_regular_file(kUncut, 0644);
  const std::string body = describe_regular_file(kBody, 0644);
  const struct {
    const char* what;
    std::set<int> failing;
    ReplaceResult result;
    Listing after;
  } cases[] = {
      {"both moves succeed", {}, ReplaceResult::replaced, {{"f", body}, {"f.bak", uncut}}},
      {"first move fails", {1}, ReplaceResult::unchanged, {{"f", uncut}}},
      {"second move fails", {2}, ReplaceResult::rolled_back, {{"f", uncut}}},
      {"second move and rollback fail",
       {2, 3},
       ReplaceResult::left_apart,
       {{"f.bak", uncut}, {"f.$$$", body}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_file(dir / "f", kUncut);
    write_file(dir / "f.$$$", kBody);
    failing_moves = c.failing;
    moves_made = 0;
    EXPECT_EQ(replace_with_backup(dir / "f", dir / "f.$$$", dir / "f.bak", move_failing_on_request),
              c.result)
        << c.what;
    EXPECT_EQ(list_directory(dir.path()), c.after) << c.what;
  }
}

TEST(ReplaceWithBackup, BackupAppearingAfterTheProbeIsNeverReplaced) {
  TempDir dir;
  write_file(dir / "f", kUncut);
  write_file(dir / "f.$$$", kBody);
  write_file(dir / "f.bak", "someone else's backup");
  EXPECT_EQ(replace_with_backup(dir / "f", dir / "f.$$$", dir / "f.bak"), ReplaceResult::unchanged);
  const Listing expected{{"f", describe_regular_file(kUncut, 0644)},
                         {"f.bak", describe_regular_file("someone else's backup", 0644)}};
  EXPECT_EQ(list_directory(dir.path()), expected);
}

}  // namespace
