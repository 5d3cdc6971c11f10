#include "tools/sync_peer/server_stream_writer.h"

#include <cstdint>
#include <stdexcept>

namespace sync_peer {

namespace {

int zlib_flush(ServerStreamWriter::Flush flush) {
  switch (flush) {
    case ServerStreamWriter::Flush::kNone:
      return Z_NO_FLUSH;
    case ServerStreamWriter::Flush::kSync:
      return Z_SYNC_FLUSH;
    case ServerStreamWriter::Flush::kFinish:
      return Z_FINISH;
  }
  return Z_NO_FLUSH;
}

}  // namespace

ServerStreamWriter::ServerStreamWriter() {
  if (deflateInit(&stream_, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::runtime_error("deflateInit failed");
}

ServerStreamWriter::~ServerStreamWriter() { deflateEnd(&stream_); }

std::vector<unsigned char> ServerStreamWriter::frame(const std::string& payload, Flush flush) {
  const uint32_t length = static_cast<uint32_t>(payload.size() + 4);
  std::vector<unsigned char> framed(4 + payload.size());
  for (int i = 0; i < 4; ++i) framed[i] = static_cast<unsigned char>(length >> (8 * i));
  std::copy(payload.begin(), payload.end(), framed.begin() + 4);
  return deflate_bytes(framed.data(), framed.size(), zlib_flush(flush));
}

std::vector<unsigned char> ServerStreamWriter::flush(Flush flush) {
  return deflate_bytes(nullptr, 0, zlib_flush(flush));
}

std::vector<unsigned char> ServerStreamWriter::deflate_bytes(const unsigned char* data, size_t size,
                                                             int flush) {
  std::vector<unsigned char> out;
  if (finished_) throw std::logic_error("the server's zlib stream has already finished");
  stream_.next_in = const_cast<unsigned char*>(data);
  stream_.avail_in = static_cast<uInt>(size);
  unsigned char buffer[16384];
  int result;
  do {
    stream_.next_out = buffer;
    stream_.avail_out = sizeof(buffer);
    result = ::deflate(&stream_, flush);
    if (result == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    out.insert(out.end(), buffer, buffer + (sizeof(buffer) - stream_.avail_out));
  } while (stream_.avail_out == 0 || stream_.avail_in > 0);
  if (result == Z_STREAM_END) finished_ = true;
  return out;
}

}  // namespace sync_peer
