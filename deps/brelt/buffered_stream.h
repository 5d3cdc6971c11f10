// Filter stages that hold every value written to them and, at the end, pass on one value joined
// from all of them, then end.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "brelt/streams.h"

namespace brelt {

template <class In, class Out, class E = Error>
class BufferedStream : public WritableStream<In, E>, public ReadableStream<Out, E> {
 public:
  explicit BufferedStream(std::function<Out(std::vector<In>&&)> join) : join_(std::move(join)) {}

 protected:
  void _write(In&& value) override { chunks_.push_back(std::move(value)); }
  void _end() override {
    this->_notify_data(join_(std::move(chunks_)));
    chunks_.clear();
    this->_notify_end();
  }

 private:
  std::function<Out(std::vector<In>&&)> join_;
  std::vector<In> chunks_;
};

// Appends byte chunks in order into one buffer and passes it on at the end; no chunks give an
// empty vector. The buffer never takes more than `max_size` bytes (0: no bound), whatever the
// size of the chunks: a chunk that would take the content past it is a read error
// "BUFFER_LIMIT" (number = the size it would have reached), after which the stream keeps nothing
// and passes nothing on.
class BufferedByteStream : public WritableStream<bytes, Error>, public ReadableStream<bytes, Error> {
 public:
  explicit BufferedByteStream(size_t max_size = 0) : max_size_(max_size) {}

 protected:
  void _write(bytes&& chunk) override {
    if (failed_) return;
    const size_t needed = buffer_.size() + chunk.size();
    if (max_size_ != 0 && needed > max_size_) {
      failed_ = true;
      buffer_ = bytes();
      this->_notify_read_error(Error(ErrorCode::UnknownError, static_cast<int64_t>(needed), "BUFFER_LIMIT",
                                     "the content would exceed " + std::to_string(max_size_) + " bytes"));
      return;
    }
    if (needed > buffer_.capacity()) {
      // Doubling keeps appends cheap; the bound caps the growth so memory follows the limit.
      size_t capacity = std::max(needed, buffer_.capacity() * 2);
      if (max_size_ != 0) capacity = std::min(capacity, max_size_);
      buffer_.reserve(capacity);
    }
    buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
  }

  void _end() override {
    if (failed_) return;
    this->_notify_data(std::move(buffer_));
    buffer_ = bytes();
    this->_notify_end();
  }

 private:
  bytes buffer_;
  size_t max_size_;
  bool failed_ = false;
};

}  // namespace brelt
