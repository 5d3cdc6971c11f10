// Reading files whole and damaging them in place, for the tests of stores that must survive a
// damaged disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrun_test {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Flips one byte in the middle of `needle` wherever a file of `dir` with `extension` holds it;
// false when none does.
inline bool flip_byte_of(const std::string& dir, const std::string& extension, const std::string& needle) {
  bool flipped = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != extension) continue;
    std::string content = read_file(entry.path());
    size_t at = content.find(needle);
    if (at == std::string::npos) continue;
    content[at + needle.size() / 2] ^= 0x10;
    std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << content;
    flipped = true;
  }
  return flipped;
}

}  // namespace kestrun_test
