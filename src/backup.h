// Keeping the uncut file: the backup probe before the work file is created,
// and the two moves that put the body in the file's place afterwards.
#pragma once

#include <string>

#include "platform.h"

// True (after writing the backup message to standard error) when anything at
// all exists under the backup name, so that no backup is ever overwritten.
bool probe_backup(const std::string& backup_name);

enum class ReplaceResult {
  replaced,     // the body is under the name, the uncut file under the backup name
  unchanged,    // the first move failed; the work file is removed
  rolled_back,  // the second move failed; the uncut file is back, the work file removed
  left_apart,   // the rollback failed too: uncut file at the backup name, body at the work name
};

using MoveFunction = bool (*)(const std::string& from, const std::string& to);

// Moves the file to the backup name, then the work file to the name, with
// renames that never replace. After any outcome the name holds the body or the
// uncut file, or, only when the second move and its rollback both failed, the
// uncut file waits under the backup name and the body under the work name:
// nothing is lost. move is a seam for tests.
ReplaceResult replace_with_backup(const std::string& name, const std::string& work_name,
                                  const std::string& backup_name,
                                  MoveFunction move = platform::move_no_replace);
