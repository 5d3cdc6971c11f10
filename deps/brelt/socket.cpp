#include "brelt/socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace brelt {

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;

template <class E>
E uv_error(int code) {
  return E(code, uv_err_name(code), uv_strerror(code));
}

}  // namespace

// One write request and the chunks it points into; the chunks live exactly as long as the request.
struct Socket::WriteBatch {
  uv_write_t request;
  std::vector<bytes> chunks;
};

Socket::Socket(uv_loop_t* loop, std::string host, std::string port, size_t max_queued_bytes)
    : max_queued_bytes_(max_queued_bytes), host_(std::move(host)), port_(std::move(port)), loop_(loop) {}

Socket::~Socket() {
  if (lookup_request_) lookup_request_->data = nullptr;
  if (connect_request_) connect_request_->data = nullptr;
  if (write_request_) write_request_->request.data = nullptr;
  if (tcp_handle_) {
    tcp_handle_->data = nullptr;
    if (!closing_) uv_close(reinterpret_cast<uv_handle_t*>(tcp_handle_), &Socket::on_closed);
  }
}

bool Socket::handle_open() const { return tcp_handle_ != nullptr && !closing_; }

void Socket::close_handle() {
  if (!handle_open()) return;
  closing_ = true;
  uv_close(reinterpret_cast<uv_handle_t*>(tcp_handle_), &Socket::on_closed);
}

void Socket::notify_end_once() {
  if (end_notified_) return;
  end_notified_ = true;
  _notify_end();
}

void Socket::drop_pending(const std::string& why) {
  if (pending_.empty()) return;
  size_t bytes_lost = pending_bytes_;
  size_t writes = pending_.size();
  pending_.clear();
  pending_bytes_ = 0;
  _notify_write_error(not_sent_error(ErrorCode::NetworkError, bytes_lost, writes, why));
}

void Socket::connect() {
  if (state_ != State::kCreated) {
    log_info(kStreamLogTag, "usage error: connect on a socket that was already connected");
    return;
  }
  state_ = State::kConnecting;
  write_in_flight_ = false;
  drop_pending("they were written before the connection was started");

  tcp_handle_ = new uv_tcp_t;
  uv_tcp_init(loop_, tcp_handle_);
  tcp_handle_->data = this;

  lookup_request_ = new uv_getaddrinfo_t;
  lookup_request_->data = this;
  addrinfo hints{};
  hints.ai_flags = 0;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  int result =
      uv_getaddrinfo(loop_, lookup_request_, &Socket::on_lookup, host_.c_str(), port_.c_str(), &hints);
  if (result != 0) {
    delete lookup_request_;
    lookup_request_ = nullptr;
    close_handle();
    _notify_write_error(uv_error<DnsError>(result));
  }
}

void Socket::on_lookup(uv_getaddrinfo_t* request, int status, addrinfo* result) {
  auto* self = static_cast<Socket*>(request->data);
  delete request;
  if (self == nullptr) {
    uv_freeaddrinfo(result);
    return;
  }
  self->lookup_request_ = nullptr;
  // The owner ended the socket while the lookup ran.
  if (!self->handle_open()) {
    uv_freeaddrinfo(result);
    return;
  }
  if (status != 0) {
    uv_freeaddrinfo(result);
    self->close_handle();
    self->_notify_read_error(uv_error<DnsError>(status));
    return;
  }
  const addrinfo* ipv4 = result;
  while (ipv4 != nullptr && ipv4->ai_family != AF_INET) ipv4 = ipv4->ai_next;
  if (ipv4 == nullptr) {
    uv_freeaddrinfo(result);
    self->close_handle();
    self->_notify_read_error(DnsError(UV_EAI_NONAME, "EAI_NONAME", "unknown node or service"));
    return;
  }
  self->connect_request_ = new uv_connect_t;
  self->connect_request_->data = self;
  int started =
      uv_tcp_connect(self->connect_request_, self->tcp_handle_, ipv4->ai_addr, &Socket::on_connected);
  uv_freeaddrinfo(result);
  if (started != 0) {
    delete self->connect_request_;
    self->connect_request_ = nullptr;
    self->close_handle();
    self->_notify_read_error(uv_error<DnsError>(started));
  }
}

void Socket::on_connected(uv_connect_t* request, int status) {
  auto* self = static_cast<Socket*>(request->data);
  delete request;
  if (self == nullptr) return;
  self->connect_request_ = nullptr;
  // Ended by the owner while connecting: the close has cancelled this attempt.
  if (!self->handle_open()) return;
  if (status != 0) {
    self->close_handle();
    self->_notify_read_error(uv_error<NetworkError>(status));
    return;
  }
  self->state_ = State::kConnected;
  if (self->on_connect) self->on_connect();
  self->flush();
  if (self->state_ == State::kConnected && self->handle_open()) {
    // A connection that cannot be read would never report its end; closing it reports one.
    if (uv_read_start(reinterpret_cast<uv_stream_t*>(self->tcp_handle_), &Socket::on_alloc,
                      &Socket::on_read) != 0) {
      self->close_handle();
    }
  }
}

void Socket::on_alloc(uv_handle_t* handle, size_t, uv_buf_t* buffer) {
  auto* self = static_cast<Socket*>(handle->data);
  if (self == nullptr) {
    *buffer = uv_buf_init(nullptr, 0);
    return;
  }
  self->read_buffer_.resize(kReadBufferSize);
  *buffer = uv_buf_init(reinterpret_cast<char*>(self->read_buffer_.data()), kReadBufferSize);
}

void Socket::on_read(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buffer) {
  auto* self = static_cast<Socket*>(stream->data);
  if (self == nullptr || nread == 0) return;
  if (nread < 0) {
    self->close_handle();
    return;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(buffer->base);
  self->_notify_data(bytes(data, data + nread));
}

void Socket::flush() {
  if (state_ != State::kConnected || write_in_flight_ || pending_.empty() || !handle_open()) return;
  auto* batch = new WriteBatch;
  batch->chunks.swap(pending_);
  in_flight_bytes_ = pending_bytes_;
  pending_bytes_ = 0;
  std::vector<uv_buf_t> buffers;
  buffers.reserve(batch->chunks.size());
  for (bytes& chunk : batch->chunks) {
    buffers.push_back(
        uv_buf_init(reinterpret_cast<char*>(chunk.data()), static_cast<unsigned>(chunk.size())));
  }
  batch->request.data = this;
  write_request_ = batch;
  write_in_flight_ = true;
  ++write_batches_;
  int result = uv_write(&batch->request, reinterpret_cast<uv_stream_t*>(tcp_handle_), buffers.data(),
                        static_cast<unsigned>(buffers.size()), &Socket::on_written);
  if (result != 0) {
    write_in_flight_ = false;
    write_request_ = nullptr;
    in_flight_bytes_ = 0;
    delete batch;
    _notify_write_error(uv_error<NetworkError>(result));
  }
}

void Socket::on_written(uv_write_t* request, int status) {
  auto* batch = reinterpret_cast<WriteBatch*>(request);
  auto* self = static_cast<Socket*>(request->data);
  size_t writes = batch->chunks.size();
  delete batch;
  if (self == nullptr) return;
  size_t bytes_lost = self->in_flight_bytes_;
  self->write_request_ = nullptr;
  self->write_in_flight_ = false;
  self->in_flight_bytes_ = 0;
  // A close cancelled the write: whatever it carried may not have reached the peer.
  if (status == UV_ECANCELED && !self->handle_open()) {
    self->_notify_write_error(not_sent_error(ErrorCode::NetworkError, bytes_lost, writes,
                                             "the connection closed while they were sent"));
    return;
  }
  if (status != 0) {
    self->_notify_write_error(uv_error<NetworkError>(status));
    return;
  }
  self->flush();
}

void Socket::on_closed(uv_handle_t* handle) {
  auto* self = static_cast<Socket*>(handle->data);
  delete reinterpret_cast<uv_tcp_t*>(handle);
  if (self == nullptr) return;
  self->tcp_handle_ = nullptr;
  self->closing_ = false;
  State previous = self->state_;
  self->state_ = State::kClosed;
  if (previous == State::kConnected) self->notify_end_once();
  self->drop_pending("the connection closed before they were sent");
}

void Socket::_write(bytes&& chunk) {
  if (state_ == State::kEnding || state_ == State::kClosed || closing_) {
    _notify_write_error(not_sent_error(ErrorCode::NetworkError, chunk.size(), 1, "the connection is closed"));
    return;
  }
  const size_t queued = pending_bytes_ + in_flight_bytes_;
  if (chunk.size() > max_queued_bytes_ - std::min(queued, max_queued_bytes_)) {
    _notify_write_error(queue_full_error(ErrorCode::NetworkError, chunk.size(), queued, max_queued_bytes_));
    close_handle();
    return;
  }
  pending_bytes_ += chunk.size();
  pending_.push_back(std::move(chunk));
  flush();
}

void Socket::_end() {
  if (state_ != State::kClosed) state_ = State::kEnding;
  close_handle();
  notify_end_once();
}

int Socket::fileno(uv_os_fd_t& fd) const {
  if (!handle_open()) return UV_EBADF;
  return uv_fileno(reinterpret_cast<const uv_handle_t*>(tcp_handle_), &fd);
}

}  // namespace brelt
