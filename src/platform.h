// The few things vorna needs from the operating system that the C++ standard
// library cannot do safely: file-type checks, exclusive creation, a rename
// that never replaces, ownership and mode, syncing to disk and holding
// interrupts. One source file per platform implements this header.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// The command's arguments after the program's own name, as the byte strings
// that the other calls here take as file names.
std::vector<std::string> command_arguments(int argc, char* argv[]);

// Opens name (following symbolic links) for binary reading when it is a
// regular file; returns nullptr for anything else or on failure. Never
// blocks, not even on a FIFO.
std::FILE* open_regular_file(const std::string& name);

// True when any entry at all exists under name, a dangling symbolic link
// included. A name the system cannot hold (too long) names nothing.
bool entry_exists(const std::string& name);

// Creates a fresh, empty, owner-only regular file under name for binary
// writing. A regular file left under name by an interrupted run is removed
// first; anything else there (a symbolic link, a directory, ...) is left
// alone and nullptr returned.
std::FILE* create_work_file(const std::string& name);

// Gives the work file the owner and group of the input (where permitted) and
// then all of its mode bits, as `cp -p` does.
bool copy_owner_and_mode(std::FILE* input, std::FILE* work);

// Flushes the stream, syncs the file to disk and closes it; false when any of
// the three failed. The stream is closed in every case.
bool close_synced(std::FILE* work);

// Renames from to to unless an entry named to exists; on failure nothing has
// changed. Acts on symbolic links themselves, never on their targets.
bool move_no_replace(const std::string& from, const std::string& to);

// Removes the directory entry name.
bool remove_entry(const std::string& name);

// Makes the renames in the directory holding name durable. Best effort: the
// renames themselves have already happened.
void sync_directory_of(const std::string& name);

// A report line that cannot be written must not kill the run.
void ignore_broken_pipe();

// Between these two calls the interrupt signals (or console control events)
// are held; they take effect when released.
void hold_interrupts();
void release_interrupts();

// One byte through the stream's buffer, without the per-call locking that
// a single-threaded program does not need.
inline int read_byte(std::FILE* stream) {
#ifdef _WIN32
  return _getc_nolock(stream);
#else
  return getc_unlocked(stream);
#endif
}

inline int write_byte(int byte, std::FILE* stream) {
#ifdef _WIN32
  return _putc_nolock(byte, stream);
#else
  return putc_unlocked(byte, stream);
#endif
}

}  // namespace platform
