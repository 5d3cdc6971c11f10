// How the peer reaches its clients, kept apart from what it says to them so that another transport
// (TLS over the same TCP) slots in without touching the scripting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sync_peer {

// One accepted client connection. `read` runs on the peer's reader thread while `write_all` and
// `shutdown` run on the scripting thread, so an implementation must allow that overlap.
class Connection {
 public:
  virtual ~Connection() = default;
  // Blocks until bytes arrive; the count read, 0 at the end of the stream, negative on failure.
  virtual long read(unsigned char* buffer, size_t size) = 0;
  // Writes every byte; false when the connection failed.
  virtual bool write_all(const unsigned char* data, size_t size) = 0;
  // Ends both directions at once and wakes a blocked `read`.
  virtual void shutdown() = 0;
};

class Listener {
 public:
  virtual ~Listener() = default;
  virtual uint16_t port() const = 0;
  // Blocks for the next client; null once `shutdown` was called or accepting failed.
  virtual std::unique_ptr<Connection> accept() = 0;
  // Wakes a blocked `accept` and refuses further clients.
  virtual void shutdown() = 0;
};

}  // namespace sync_peer
