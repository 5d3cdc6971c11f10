#include "core/foundation/leveldb_repair.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include <leveldb/db.h>
#include <leveldb/env.h>
#include <leveldb/options.h>

namespace libkestrun {
namespace {

constexpr size_t kBlockSize = 32768;
constexpr size_t kHeaderSize = 7;
constexpr uint8_t kSkippedType = 0xFF;  // above every type the reader knows

uint32_t crc32c(const uint8_t* data, size_t n) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

uint32_t masked(uint32_t crc) { return ((crc >> 15) | (crc << 17)) + 0xA282EAD8u; }

// Walks the records as the log reader does and marks those whose checksum fails. True when the
// log changed.
bool scrub(std::vector<uint8_t>& log) {
  bool changed = false;
  for (size_t block = 0; block < log.size(); block += kBlockSize) {
    const size_t end = std::min(log.size(), block + kBlockSize);
    size_t at = block;
    while (end - at >= kHeaderSize) {
      uint8_t* header = log.data() + at;
      const size_t length = header[4] | (size_t{header[5]} << 8);
      // A record that passes the block, or the writer's zero fill: the reader drops the rest of
      // the block, and so does this walk.
      if (at + kHeaderSize + length > end || (header[6] == 0 && length == 0)) break;
      const uint32_t stored =
          header[0] | (uint32_t{header[1]} << 8) | (uint32_t{header[2]} << 16) | (uint32_t{header[3]} << 24);
      if (header[6] != kSkippedType && masked(crc32c(header + 6, 1 + length)) != stored) {
        header[6] = kSkippedType;
        changed = true;
      }
      at += kHeaderSize + length;
    }
  }
  return changed;
}

void scrub_logs(const std::string& path) {
  std::vector<std::string> children;
  if (!leveldb::Env::Default()->GetChildren(path, &children).ok()) return;
  for (const std::string& name : children) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".log") != 0) continue;
    const std::string file = path + "/" + name;
    std::vector<uint8_t> log;
    {
      std::ifstream in(file, std::ios::binary);
      log.assign(std::istreambuf_iterator<char>(in), {});
      if (in.bad()) continue;
    }
    if (!scrub(log)) continue;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
  }
}

}  // namespace

leveldb::Status repair_leveldb(const std::string& path, const leveldb::Options& options) {
  scrub_logs(path);
  return leveldb::RepairDB(path, options);
}

}  // namespace libkestrun
