// The parts of the test helpers that std::filesystem makes portable.
#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test_support {

namespace {

fs::path native(const std::string& path) { return fs::u8path(path); }

// Lets the owner into every directory below path again, so that a test that
// took permissions away cannot stop the clean-up.
void restore_permissions(const fs::path& path) {
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(path, error))) {
    return;
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
  for (const auto& entry : fs::directory_iterator(path, error)) {
    restore_permissions(entry.path());
  }
}

void collect(const std::string& root, const fs::path& dir, Listing& listing) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    // Not fs::relative, which would resolve symbolic links.
    const std::string relative = entry.path().u8string().substr(root.size() + 1);
    const fs::file_status status = entry.symlink_status();
    const int mode = static_cast<int>(status.permissions() & fs::perms::mask);
    std::ostringstream description;
    description << std::oct << mode << ' ';
    if (fs::is_symlink(status)) {
      description << "link -> " << fs::read_symlink(entry.path()).u8string();
    } else if (fs::is_directory(status)) {
      description << "directory";
      collect(root, entry.path(), listing);
    } else if (fs::is_regular_file(status)) {
      std::ifstream in(entry.path(), std::ios::binary);
      if (in) {
        description.str(describe_regular_file(
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            mode));
      } else {
        description << "unreadable file " << std::dec << fs::file_size(entry.path()) << " bytes";
      }
    } else if (fs::is_fifo(status)) {
      description << "fifo";
    } else {
      description << "other";
    }
    listing[relative] = description.str();
  }
}

}  // namespace

TempDir::TempDir() {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("vorna-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path_ = candidate.u8string();
      return;
    }
  }
  throw std::runtime_error("no fresh temporary directory under " + base.u8string());
}

TempDir::~TempDir() {
  restore_permissions(native(path_));
  std::error_code ignored;
  fs::remove_all(native(path_), ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(native(path), std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes, int mode) {
  {
    std::ofstream out(native(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      throw std::runtime_error("cannot write " + path);
    }
  }
#ifdef _WIN32
  static_cast<void>(mode);
#else
  fs::permissions(native(path), static_cast<fs::perms>(mode));
#endif
}

void make_directory(const std::string& path) { fs::create_directories(native(path)); }

bool exists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(native(path), error));
}

std::string bytes(std::initializer_list<int> values) {
  std::string result;
  for (const int value : values) {
    result.push_back(static_cast<char>(value));
  }
  return result;
}

std::string counting_bytes(std::size_t count) {
  std::string result(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    result[i] = static_cast<char>(i & 0xFF);
  }
  return result;
}

std::string as_text(const std::string& s) {
#ifdef _WIN32
  std::string text;
  for (const char c : s) {
    if (c == '\n') {
      text += '\r';
    }
    text += c;
  }
  return text;
#else
  return s;
#endif
}

std::string describe_regular_file(const std::string& bytes, int mode) {
  std::ostringstream description;
#ifdef _WIN32
  // No permission bits to compare: every regular file reads the same.
  static_cast<void>(mode);
  description << "file ";
#else
  description << std::oct << mode << " file ";
#endif
  description << std::dec << bytes.size() << " bytes: ";
  for (const char c : bytes.substr(0, 16)) {
    static const char digits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    description << digits[byte >> 4U] << digits[byte & 0xFU];
  }
  // A checksum over the rest keeps long files comparable without printing them.
  unsigned long long checksum = 1469598103934665603ULL;
  for (const char c : bytes) {
    checksum = (checksum ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  description << " fnv " << std::hex << checksum;
  return description.str();
}

Listing list_directory(const std::string& path) {
  Listing listing;
  collect(native(path).u8string(), native(path), listing);
  return listing;
}

}  // namespace test_support
