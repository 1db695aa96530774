// The 4-byte top header of the files vorna cuts, and the cut itself.
//
//   offset 0  START  unsigned 16-bit, little-endian
//   offset 2  END    unsigned 16-bit, little-endian
//   offset 4  body   the first END - START bytes are kept, the rest dropped
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct TopHeader {
  std::uint16_t start;
  std::uint16_t end;
  // END - START - 1: the zero-based position in the body of the last byte
  // kept, from -65,536 to 65,534; negative when nothing is kept.
  std::int32_t size;
};

// Reads the four header bytes; a byte beyond the end of the input counts as
// 0xFF, so an empty input reads as START = END = 0xFFFF. A read error also
// yields 0xFF and leaves the stream's error indicator set for the caller.
TopHeader read_top_header(std::FILE* input);

// The report line, "START=%04x END=%04x SIZE=%04x\n", with SIZE as its
// 32-bit two's-complement bit pattern (-1 gives ffffffff).
std::string format_report_line(const TopHeader& header);

// Writes the report line to standard output and flushes it, so that it is
// out before the first body byte is copied.
void report_top_header(const TopHeader& header);

enum class CopyResult { complete, read_failed, write_failed };

// Copies at most size + 1 body bytes from input to work, stopping early at the
// end of the input. Never reads past the last byte it keeps.
CopyResult copy_body(std::FILE* input, std::FILE* work, std::int32_t size);
