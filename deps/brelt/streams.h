// Typed push streams. A producer hands each value to its `on_data` callback; a consumer takes
// values through `write` and learns of the end through `end`. A filter stage derives from one
// WritableStream and one ReadableStream (in that order) and is chained by binding its callbacks to
// the next stage's `write` and `end` (see `pipe`). Every callback runs synchronously inside the
// call that raised it, on the event-loop thread that owns the chain; a stream must not be
// destroyed from inside one of its own callbacks.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "brelt/error.h"
#include "brelt/log.h"

namespace brelt {

// A chunk of bytes, moved from stage to stage.
using bytes = std::vector<unsigned char>;

inline constexpr const char* kStreamLogTag = "Stream";

// The receiving side. Implementations provide `_write` and `_end`; callers go through `write` and
// `end`, which refuse use after the end.
template <class T, class E = Error>
class WritableStream {
 public:
  WritableStream() = default;
  WritableStream(const WritableStream&) = delete;
  WritableStream& operator=(const WritableStream&) = delete;
  virtual ~WritableStream() = default;

  // Passes the value on unless the stream has ended; a write after the end is logged and dropped.
  void write(T&& value) {
    if (ended) {
      log_info(kStreamLogTag, "usage error: write after end");
      return;
    }
    _write(std::move(value));
  }

  // Ends the stream once; a second call is logged and ignored.
  void end() {
    if (ended) {
      log_info(kStreamLogTag, "usage error: double end on stream");
      return;
    }
    ended = true;
    _end();
  }

  bool ended = false;
  std::function<void(E)> on_write_error;

 protected:
  virtual void _write(T&& value) = 0;
  virtual void _end() = 0;

  // For failures while processing a written value; logged when nobody listens.
  void _notify_write_error(E error) {
    if (on_write_error) {
      on_write_error(error);
    } else {
      log_error(kStreamLogTag, "uncaught write error, " + error.to_string());
    }
  }
};

// The producing side. It has no state: it notifies whatever callbacks are set at the time.
template <class T, class E = Error>
class ReadableStream {
 public:
  ReadableStream() = default;
  ReadableStream(const ReadableStream&) = delete;
  ReadableStream& operator=(const ReadableStream&) = delete;
  virtual ~ReadableStream() = default;

  std::function<void(E)> on_read_error;
  std::function<void()> on_end;
  std::function<void(T)> on_data;

 protected:
  void _notify_data(T&& value) {
    if (on_data) {
      on_data(std::move(value));
    } else {
      log_info(kStreamLogTag, "usage error: not observing data notifications");
    }
  }

  // For failures of the producing side; logged when nobody listens.
  void _notify_read_error(E error) {
    if (on_read_error) {
      on_read_error(error);
    } else {
      log_error(kStreamLogTag, "uncaught read error: " + error.to_string());
    }
  }

  // Calls `on_end` when one is set; the end of a stream needs no listener.
  void _notify_end() {
    if (on_end) on_end();
  }
};

// A stream that must connect before it carries data. Success is reported through `on_connect`.
// Connection streams are owned and destroyed through DuplexConnectStream, never through this type.
class ConnectStream {
 public:
  virtual void connect() = 0;

  std::function<void()> on_connect;

 protected:
  ConnectStream() = default;
  ~ConnectStream() = default;
};

// A connection: values of type In are written to it, values of type Out come out of it.
template <class In, class Out, class E = Error>
class DuplexConnectStream : public ConnectStream,
                            public WritableStream<In, E>,
                            public ReadableStream<Out, E> {
 public:
  ~DuplexConnectStream() override = default;
};

// Makes a fresh connection stream each time; owners reconnect by asking for a new one.
template <class In, class Out, class E = Error>
class DuplexConnectStreamFactory {
 public:
  virtual ~DuplexConnectStreamFactory() = default;
  virtual std::unique_ptr<DuplexConnectStream<In, Out, E>> create() = 0;
};

// Chains `from` into `to`: each value goes to `to.write` and the end to `to.end`. Errors stay with
// the owner, which binds them to its own notifications. `to` must outlive `from`'s callbacks.
template <class T, class E1, class E2>
void pipe(ReadableStream<T, E1>& from, WritableStream<T, E2>& to) {
  from.on_data = [&to](T value) { to.write(std::move(value)); };
  from.on_end = [&to] { to.end(); };
}

}  // namespace brelt
