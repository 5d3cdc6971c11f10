// Builds the server's side of the wire: frames (a 32-bit little-endian length counting its own four
// bytes, then the JSON text, no signature) fed through one zlib stream for the whole connection.
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

namespace sync_peer {

class ServerStreamWriter {
 public:
  enum class Flush { kNone, kSync, kFinish };

  ServerStreamWriter();
  ~ServerStreamWriter();
  ServerStreamWriter(const ServerStreamWriter&) = delete;
  ServerStreamWriter& operator=(const ServerStreamWriter&) = delete;

  // Compresses `payload` behind its length prefix and returns the compressed bytes this produced,
  // which is little or nothing until a flush.
  std::vector<unsigned char> frame(const std::string& payload, Flush flush = Flush::kNone);
  std::vector<unsigned char> flush(Flush flush);

 private:
  std::vector<unsigned char> deflate_bytes(const unsigned char* data, size_t size, int flush);

  z_stream stream_{};
  bool finished_ = false;
};

}  // namespace sync_peer
