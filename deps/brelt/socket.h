// A client TCP connection on a libuv loop, seen as a byte stream: the bottom stage of every
// network chain. It resolves the host, connects to the first IPv4 address (and only to it), sends
// written chunks in batches with one write in progress at a time, and reports the peer's close or
// a failed read as the end of the stream. It never retries; owners replace the whole socket.
//
// Every call, callback and the destruction happen on the loop's thread.
#pragma once

#include <uv.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brelt/streams.h"

namespace brelt {

class Socket : public DuplexConnectStream<bytes, bytes, Error> {
 public:
  enum class State : int32_t {
    kCreated = 0,
    kConnecting = 3,
    kConnected = 4,
    kEnding = 5,  // the owner called end()
    kClosed = 6,  // the handle's close has completed
  };

  // Bytes written and not yet sent that the socket holds at most by default.
  static constexpr size_t kDefaultMaxQueuedBytes = 64u * 1024 * 1024;

  // `port` is a decimal port or a service name. Nothing touches the network yet. At most
  // `max_queued_bytes` written bytes wait to be sent (those of the write in progress included).
  Socket(uv_loop_t* loop, std::string host, std::string port,
         size_t max_queued_bytes = kDefaultMaxQueuedBytes);
  // Closes the handle if it is open. Requests still in progress complete without reaching this
  // object, and the memory of a write in progress stays with its request.
  ~Socket() override;

  // Starts the host lookup; success is reported through `on_connect`. Chunks written before this
  // call are dropped; chunks written after it leave once connected. Failures (table below) go to
  // the error callbacks once, and the handle is closed without an end notification:
  //   lookup cannot start                 DnsError (libuv code)        on_write_error
  //   lookup fails                        DnsError (status)            on_read_error
  //   no IPv4 address                     DnsError -3008 "EAI_NONAME"  on_read_error
  //   connect cannot start                DnsError (libuv code)        on_read_error
  //   connect fails                       NetworkError (status)        on_read_error
  //   a write cannot start or fails       NetworkError                 on_write_error
  // No written byte is lost in silence (all NetworkError on on_write_error, number = bytes lost):
  //   a write over the bound              "SEND_QUEUE_FULL"; the connection is closed, since a
  //                                       byte stream with a hole in it is useless to the peer
  //   chunks written before connect()     "NOT_SENT", reported by connect()
  //   a write after the end or a failure  "NOT_SENT", at once
  //   chunks the close left unsent        "NOT_SENT", when the close completes (after the error
  //                                       or end that caused it)
  void connect() override;

  State state() const { return state_; }
  // Write requests started so far; each carries every chunk queued since the previous one.
  uint64_t write_batches() const { return write_batches_; }

  // The connection's descriptor, for socket options: 0 with `fd` set, or UV_EBADF when the
  // socket has no open handle.
  int fileno(uv_os_fd_t& fd) const;

 protected:
  // Queues the chunk and sends it when connected and no write is in progress.
  void _write(bytes&& chunk) override;
  // Closes the connection at once and reports `on_end` (once in the socket's life).
  void _end() override;

 private:
  struct WriteBatch;

  static void on_lookup(uv_getaddrinfo_t* request, int status, struct addrinfo* result);
  static void on_connected(uv_connect_t* request, int status);
  static void on_alloc(uv_handle_t* handle, size_t suggested, uv_buf_t* buffer);
  static void on_read(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buffer);
  static void on_written(uv_write_t* request, int status);
  static void on_closed(uv_handle_t* handle);

  void flush();
  // Starts closing the handle if it is open; the close completion frees it.
  void close_handle();
  bool handle_open() const;
  void notify_end_once();
  // Reports and forgets the chunks that were written but not handed to a write request.
  void drop_pending(const std::string& why);

  std::vector<bytes> pending_;  // written, not yet handed to a write request
  size_t pending_bytes_ = 0;
  size_t in_flight_bytes_ = 0;  // of the write request in progress
  size_t max_queued_bytes_;
  State state_ = State::kCreated;
  bool write_in_flight_ = false;
  bool end_notified_ = false;
  uint64_t write_batches_ = 0;
  std::string host_;
  std::string port_;
  uv_loop_t* loop_;
  uv_tcp_t* tcp_handle_ = nullptr;  // freed by its close completion
  bool closing_ = false;
  // Requests in progress; each completion frees its own request, whether or not the socket lives.
  uv_getaddrinfo_t* lookup_request_ = nullptr;
  uv_connect_t* connect_request_ = nullptr;
  WriteBatch* write_request_ = nullptr;
  bytes read_buffer_;
};

}  // namespace brelt
