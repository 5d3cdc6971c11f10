// The long-lived JSON connection to the sync server. To its owner it is one connection stream that
// never has to be rebuilt: underneath it asks a factory for a fresh connection whenever it
// (re)connects, connects lazily when a message is written while it sleeps, pings while connected,
// closes a lazily opened connection after a while, and reconnects after failures with a growing
// delay.
//
// Messages are only ever written to a connection that is up. What is written while connecting,
// ending, or waiting to reconnect is held and goes out, in order, as soon as the next connection
// is established; what was written to a connection that then fails is the owner's to resend (the
// connection reports what it did not send, also after it has been replaced). A
// lazily opened connection is closed one idle period after the waking write or, when held messages
// had to wait longer, at the end of the period in which they went out.
//
// Everything, including the timers, runs on the thread of the loop given at construction.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <uv.h>

#include "brelt/backoff_timer.h"
#include "brelt/streams.h"
#include "brelt/timer.h"
#include "jsonette/json.h"

namespace brelt {

using JsonConnection = DuplexConnectStream<jsonette::Json, jsonette::Json, Error>;
using JsonConnectionFactory = DuplexConnectStreamFactory<jsonette::Json, jsonette::Json, Error>;

// The client's durations; tests shorten them.
struct AutoConnectTimings {
  uint64_t ping_ms = 30000;
  uint64_t idle_ms = 60000;
  uint64_t backoff_initial_ms = BackoffTimer::kInitialMs;
  uint64_t backoff_maximum_ms = BackoffTimer::kMaximumMs;
  uint64_t backoff_window_ms = BackoffTimer::kWindowMs;
  double backoff_factor = BackoffTimer::kFactor;
  BackoffTimer::Clock clock = std::chrono::steady_clock::now;
};

class AutoConnectApiClient : public JsonConnection {
 public:
  enum class State : int32_t { Connecting = 0, Connected = 1, Ending = 2, Disconnected = 3 };

  // Bytes of JSON text the client holds at most by default while no connection is up.
  static constexpr size_t kDefaultMaxHeldBytes = 64u * 1024 * 1024;

  // Starts asleep and disconnected; nothing is opened until a write or connect_now(). Held
  // messages take at most `max_held_bytes` of JSON text: a write beyond that is refused with a
  // NetworkError "SEND_QUEUE_FULL" (number = its size) on `on_write_error`.
  AutoConnectApiClient(uv_loop_t* loop, std::unique_ptr<JsonConnectionFactory> factory,
                       AutoConnectTimings timings = {}, size_t max_held_bytes = kDefaultMaxHeldBytes);
  ~AutoConnectApiClient() override;

  // Opens a new connection when there is none; does not wake the client, so a sleeping client
  // ends the connection as soon as it is established.
  void connect() override;
  // Wakes the client and connects at once, cancelling a pending back-off.
  void connect_now();
  // Puts the client to sleep and ends a live connection; one still connecting is ended once it
  // connects, after the messages held for it have gone out. Messages held while no connection is on
  // its way stay held until the client is woken again.
  void disconnect();
  // Forgets every held message, so none is ever sent: the owner calls it when what it wrote no
  // longer holds, e.g. after the user changed and before the next connection authenticates anew.
  void drop_held();
  // Starts the idle timer for `ms` unless it already runs; returns true when it already ran.
  bool idle_after(uint64_t ms);
  bool idle_after();

  // Safe from any thread; the answer may be stale by the time it is used.
  bool is_connecting() const { return state_ == State::Connecting; }
  bool is_connected() const { return state_ == State::Connected; }
  State state() const { return state_; }

 protected:
  // Wakes a sleeping client, then sends the value or holds it until the next connection is up.
  void _write(jsonette::Json&& value) override;
  // The connection never ends for good; owners call disconnect().
  void _end() override;

 private:
  void setup_connection();
  void on_connected(JsonConnection* connection);
  void on_disconnected(JsonConnection* connection, bool failed);
  void flush_held();
  void ping();
  void on_idle();
  void sleep();

  AutoConnectTimings timings_;
  bool idle_ = true;
  // Read from other threads, which may ask whether the client is connected.
  std::atomic<State> state_ = State::Disconnected;
  std::unique_ptr<JsonConnectionFactory> factory_;
  std::unique_ptr<JsonConnection> connection_;
  // Connections that are over. Their callbacks may still be on the stack when they are retired, so
  // they are destroyed on a later turn of the loop.
  std::vector<std::unique_ptr<JsonConnection>> retired_;
  struct Held {
    jsonette::Json value;
    size_t size;  // of its JSON text
  };
  std::deque<Held> held_;
  size_t held_bytes_ = 0;
  size_t max_held_bytes_;
  Timer ping_timer_;
  Timer idle_timer_;
  Timer reaper_;
  BackoffTimer backoff_;
};

}  // namespace brelt
