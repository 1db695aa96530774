#include "top_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "test_support.h"

using test_support::bytes;
using test_support::counting_bytes;

namespace {

// A temporary file holding data, read from its start; closed (and so
// removed) at the end of the scope.
struct TempStream {
  explicit TempStream(const std::string& data = "") : stream(std::tmpfile()) {
    EXPECT_NE(stream, nullptr);
    std::fwrite(data.data(), 1, data.size(), stream);
    std::rewind(stream);
  }
  ~TempStream() { std::fclose(stream); }
  TempStream(const TempStream&) = delete;
  TempStream& operator=(const TempStream&) = delete;

  std::string contents() {
    std::fflush(stream);
    std::rewind(stream);
    std::string result;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
      result.push_back(static_cast<char>(c));
    }
    return result;
  }
  std::FILE* stream;
};

#ifndef _WIN32
// A stream that serves or takes bytes until fail_at of them have passed, and
// then fails every read or write, as a failing disk would.
struct FailingStream {
  FailingStream(std::string data, std::size_t fail_at, const char* mode)
      : source(std::move(data)), fail_at(fail_at) {
    cookie_io_functions_t functions{};
    functions.read = &FailingStream::read;
    functions.write = &FailingStream::write;
    stream = fopencookie(this, mode, functions);
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  ~FailingStream() { std::fclose(stream); }
  FailingStream(const FailingStream&) = delete;
  FailingStream& operator=(const FailingStream&) = delete;

  static ssize_t read(void* cookie, char* buffer, std::size_t size) {
    auto* self = static_cast<FailingStream*>(cookie);
    if (self->passed >= self->fail_at) {
      errno = EIO;
      return -1;
    }
    const std::size_t count =
        std::min({size, self->fail_at - self->passed, self->source.size() - self->passed});
    std::memcpy(buffer, self->source.data() + self->passed, count);
    self->passed += count;
    return static_cast<ssize_t>(count);
  }
  static ssize_t write(void* cookie, const char* buffer, std::size_t size) {
    auto* self = static_cast<FailingStream*>(cookie);
    if (self->passed >= self->fail_at) {
      errno = ENOSPC;
      return -1;
    }
    const std::size_t count = std::min(size, self->fail_at - self->passed);
    self->written.append(buffer, count);
    self->passed += count;
    return static_cast<ssize_t>(count);
  }

  std::string source;
  std::string written;
  std::size_t passed = 0;
  std::size_t fail_at;
  std::FILE* stream;
};
#endif

struct HeaderCase {
  const char* what;
  std::string input;
  std::uint16_t start;
  std::uint16_t end;
  std::int32_t size;
};

TEST(ReadTopHeader, ReadsLittleEndianValuesAndFillsMissingBytesWithFF) {
  const HeaderCase cases[] = {
      {"demo header", bytes({0x00, 0x10, 0x40, 0x10, 0xAA}), 0x1000, 0x1040, 0x3F},
      {"empty input", "", 0xFFFF, 0xFFFF, -1},
      {"one byte", bytes({0x34}), 0xFF34, 0xFFFF, 0xCA},
      {"two bytes", bytes({0x00, 0x10}), 0x1000, 0xFFFF, 0xEFFE},
      {"three bytes", bytes({0x00, 0x10, 0x40}), 0x1000, 0xFF40, 0xEF3F},
      {"widest body", bytes({0x00, 0x00, 0xFF, 0xFF}), 0x0000, 0xFFFF, 65534},
      {"END equals START", bytes({0x34, 0x12, 0x34, 0x12}), 0x1234, 0x1234, -1},
      {"END one past START", bytes({0x34, 0x12, 0x35, 0x12}), 0x1234, 0x1235, 0},
      {"END below START", bytes({0x10, 0x00, 0x00, 0x00}), 0x0010, 0x0000, -17},
      {"most negative", bytes({0xFF, 0xFF, 0x00, 0x00}), 0xFFFF, 0x0000, -65536},
  };
  for (const HeaderCase& c : cases) {
    TempStream input(c.input);
    const TopHeader header = read_top_header(input.stream);
    EXPECT_EQ(header.start, c.start) << c.what;
    EXPECT_EQ(header.end, c.end) << c.what;
    EXPECT_EQ(header.size, c.size) << c.what;
    EXPECT_EQ(std::ferror(input.stream), 0) << c.what;
  }
}

TEST(ReadTopHeader, LeavesTheStreamAtTheFirstBodyByte) {
  TempStream input(bytes({0x00, 0x10, 0x40, 0x10, 0x7E}));
  read_top_header(input.stream);
  EXPECT_EQ(std::fgetc(input.stream), 0x7E);
}

#ifndef _WIN32
TEST(ReadTopHeader, ReadErrorLeavesTheErrorIndicatorSet) {
  FailingStream input(bytes({0x00, 0x10, 0x40, 0x10}), 2, "rb");
  const TopHeader header = read_top_header(input.stream);
  EXPECT_NE(std::ferror(input.stream), 0);
  EXPECT_EQ(header.start, 0x1000);
  EXPECT_EQ(header.end, 0xFFFF);
}

#endif

TEST(FormatReportLine, HexFieldsWithSizeAsItsTwosComplementPattern) {
  const struct {
    TopHeader header;
    const char* line;
  } cases[] = {
      {{0x1000, 0x1040, 0x3F}, "START=1000 END=1040 SIZE=003f\n"},
      {{0xFFFF, 0xFFFF, -1}, "START=ffff END=ffff SIZE=ffffffff\n"},
      {{0x1000, 0xFFFF, 0xEFFE}, "START=1000 END=ffff SIZE=effe\n"},
      {{0x0000, 0xFFFF, 65534}, "START=0000 END=ffff SIZE=fffe\n"},
      {{0x1234, 0x1235, 0}, "START=1234 END=1235 SIZE=0000\n"},
      {{0x0010, 0x0000, -17}, "START=0010 END=0000 SIZE=ffffffef\n"},
      {{0xFFFF, 0x0000, -65536}, "START=ffff END=0000 SIZE=ffff0000\n"},
      {{0x000A, 0xABCD, 0xABC2}, "START=000a END=abcd SIZE=abc2\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_report_line(c.header), c.line);
  }
}

struct CopyCase {
  const char* what;
  std::int32_t size;
  std::string body;
  std::string kept;
};

TEST(CopyBody, KeepsAtMostSizePlusOneBytesAndReadsNoFurther) {
  const std::string hundred = counting_bytes(100);
  const std::string long_body = counting_bytes(70000);
  const CopyCase cases[] = {
      {"first 64 of 100", 0x3F, hundred, hundred.substr(0, 64)},
      {"SIZE -1 keeps nothing", -1, hundred, ""},
      {"most negative SIZE keeps nothing", -65536, hundred, ""},
      {"SIZE 0 keeps one byte", 0, hundred, hundred.substr(0, 1)},
      {"short body ends the copy", 10, "abc", "abc"},
      {"empty body", 0x3F, "", ""},
      {"widest body", 65534, long_body, long_body.substr(0, 65535)},
      {"line ends, NUL and ^Z untouched", 5, bytes({'\r', '\n', 0x00, 0x1A, '\n', '\r'}),
       bytes({'\r', '\n', 0x00, 0x1A, '\n', '\r'})},
  };
  for (const CopyCase& c : cases) {
    TempStream input(c.body);
    TempStream work;
    EXPECT_EQ(copy_body(input.stream, work.stream, c.size), CopyResult::complete) << c.what;
    EXPECT_EQ(std::ftell(input.stream), static_cast<long>(c.kept.size())) << c.what;
    EXPECT_EQ(work.contents(), c.kept) << c.what;
  }
}

#ifndef _WIN32
TEST(CopyBody, ReadErrorIsNotEndOfInput) {
  FailingStream input(counting_bytes(100), 10, "rb");
  TempStream work;
  EXPECT_EQ(copy_body(input.stream, work.stream, 0x3F), CopyResult::read_failed);
}

TEST(CopyBody, WriteErrorIsReported) {
  TempStream input(counting_bytes(100));
  FailingStream work("", 5, "wb");
  EXPECT_EQ(copy_body(input.stream, work.stream, 0x3F), CopyResult::write_failed);
  EXPECT_EQ(work.written, counting_bytes(5));
}
#endif

}  // namespace
