// A scripted stand-in for the sync server. It accepts clients on its listener, records every frame
// each client sends (with whether its signature was right) and every byte, and writes what the test
// scripts: frames through one zlib stream per connection, split, flushed, finished, corrupted or
// cut short at will. One connection is current at a time: the latest accepted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/sync_peer/client_frame_reader.h"
#include "tools/sync_peer/server_stream_writer.h"
#include "tools/sync_peer/transport.h"

namespace sync_peer {

// One scripted write to the current connection.
struct ServerWrite {
  using Flush = ServerStreamWriter::Flush;

  std::vector<std::string> frames;  // JSON texts, each framed then compressed
  Flush flush = Flush::kSync;       // applied after the frames
  // Offsets into this write's compressed bytes at which it is sent as separate pieces (each piece
  // its own send, a moment apart, so the client is likely to read them apart).
  std::vector<size_t> split_at;
  std::optional<size_t> corrupt_at;   // this compressed byte is inverted before sending
  std::optional<size_t> close_after;  // send only this many bytes, then close the connection
};

class ScriptedPeer {
 public:
  // Starts accepting at once on a thread of its own.
  ScriptedPeer(std::unique_ptr<Listener> listener, std::vector<unsigned char> hmac_key);
  // Closes every connection and the listener and joins the peer's threads.
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const;

  // What has been received so far, over every connection in order.
  std::vector<ClientFrame> frames() const;
  std::vector<unsigned char> received_bytes() const;
  // The reader's complaint about a frame that could not be read, if any.
  std::string protocol_error() const;
  size_t connections_accepted() const;
  // True once the current connection has ended on the client's side (or failed).
  bool client_closed() const;

  // Blocks until `count` frames (or bytes) have arrived in all, or `timeout_ms` passes.
  bool wait_for_frames(size_t count, int timeout_ms = 10000) const;
  bool wait_for_bytes(size_t count, int timeout_ms = 10000) const;
  bool wait_for_connection(size_t count = 1, int timeout_ms = 10000) const;
  bool wait_for_client_close(int timeout_ms = 10000) const;

  // Writes to the current connection; false when there is none or it failed.
  bool send(const ServerWrite& write);
  // Sends bytes as they are, outside the zlib stream.
  bool send_raw(const std::vector<unsigned char>& bytes);
  // Closes the current connection from the peer's side.
  void close_connection();

 private:
  struct Session;

  void accept_loop();
  void read_loop(std::shared_ptr<Session> session);
  // The latest accepted connection, or null before the first.
  std::shared_ptr<Session> current_session() const;
  template <class Pred>
  bool wait(Pred pred, int timeout_ms) const;

  std::unique_ptr<Listener> listener_;
  std::vector<unsigned char> key_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::vector<ClientFrame> frames_;
  std::vector<unsigned char> bytes_;
  std::string protocol_error_;
  std::vector<std::thread> readers_;
  std::thread acceptor_;
};

}  // namespace sync_peer
