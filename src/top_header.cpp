#include "top_header.h"

#include "platform.h"

namespace {

// End-of-input (EOF, -1) masks to 0xFF.
std::uint16_t read_little_endian_16(std::FILE* input) {
  const unsigned low = static_cast<unsigned>(platform::read_byte(input)) & 0xFFU;
  const unsigned high = static_cast<unsigned>(platform::read_byte(input)) & 0xFFU;
  return static_cast<std::uint16_t>(low | (high << 8U));
}

}  // namespace

TopHeader read_top_header(std::FILE* input) {
  TopHeader header{};
  header.start = read_little_endian_16(input);
  header.end = read_little_endian_16(input);
  header.size = static_cast<std::int32_t>(header.end) - static_cast<std::int32_t>(header.start) - 1;
  return header;
}

std::string format_report_line(const TopHeader& header) {
  // "START=xxxx END=xxxx SIZE=xxxxxxxx\n" and its terminating zero fit easily.
  char line[64];
  static_cast<void>(std::snprintf(line, sizeof line, "START=%04x END=%04x SIZE=%04x\n",
                                  unsigned{header.start}, unsigned{header.end},
                                  static_cast<std::uint32_t>(header.size)));
  return line;
}

void report_top_header(const TopHeader& header) {
  // The report is for the reader; a line that cannot be written (standard
  // output closed, its reader gone) must not stop the cut.
  const std::string line = format_report_line(header);
  static_cast<void>(std::fwrite(line.data(), 1, line.size(), stdout));
  static_cast<void>(std::fflush(stdout));
}

CopyResult copy_body(std::FILE* input, std::FILE* work, std::int32_t size) {
  for (std::int32_t count = 0; count <= size; ++count) {
    const int byte = platform::read_byte(input);
    if (byte == EOF) {
      return std::ferror(input) != 0 ? CopyResult::read_failed : CopyResult::complete;
    }
    if (platform::write_byte(byte, work) == EOF) {
      return CopyResult::write_failed;
    }
  }
  return CopyResult::complete;
}
