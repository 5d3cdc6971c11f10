// A filter stage that holds every value written to it and, at the end, passes on one value joined
// from all of them, then ends.
#pragma once

#include <functional>
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

// Joins byte chunks in order; no chunks give an empty vector.
class BufferedByteStream : public BufferedStream<bytes, bytes, Error> {
 public:
  BufferedByteStream()
      : BufferedStream([](std::vector<bytes>&& chunks) {
          size_t size = 0;
          for (const bytes& chunk : chunks) size += chunk.size();
          bytes joined;
          joined.reserve(size);
          for (const bytes& chunk : chunks) joined.insert(joined.end(), chunk.begin(), chunk.end());
          return joined;
        }) {}
};

}  // namespace brelt
