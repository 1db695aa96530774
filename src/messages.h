// Every text vorna writes to standard error, each written whole with nothing
// added. The Japanese messages are Shift JIS (code page 932) bytes, spelled
// out as escapes so that the encoding of this source file cannot change them;
// each ends in an ASCII full stop and a line feed.
#pragma once

#include <cstdio>
#include <string_view>

namespace messages {

// Wrong number of arguments.
inline constexpr std::string_view usage =
    "VORNA.EXE: cut top 4-byte header (for QUENWORT)\n"
    "Usage: vorna file\n";

// "ファイルを読み込めません." (the file cannot be read)
inline constexpr std::string_view cannot_read =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x93\xc7\x82\xdd\x8d\x9e"
    "\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x2e\x0a";

// "バックアップファイルが既に存在します." (the backup file already exists)
inline constexpr std::string_view backup_exists =
    "\x83\x6f\x83\x62\x83\x4e\x83\x41\x83\x62\x83\x76\x83\x74\x83\x40"
    "\x83\x43\x83\x8b\x82\xaa\x8a\xf9\x82\xc9\x91\xb6\x8d\xdd\x82\xb5"
    "\x82\xdc\x82\xb7\x2e\x0a";

// "ファイルを書き込めません." (the file cannot be written)
inline constexpr std::string_view cannot_write =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8f\x91\x82\xab\x8d\x9e"
    "\x82\xdf\x82\xdc\x82\xb9\x82\xf1\x2e\x0a";

// "ファイルを置き換えられません." (the file cannot be replaced)
inline constexpr std::string_view cannot_replace =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x92\x75\x82\xab\x8a\xb7"
    "\x82\xa6\x82\xe7\x82\xea\x82\xdc\x82\xb9\x82\xf1\x2e\x0a";

// Standard error is unbuffered and is the only place to report to, so a
// failure to write there is not reported anywhere.
inline void write_message(std::string_view text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stderr));
}

}  // namespace messages
