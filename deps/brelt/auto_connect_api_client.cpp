#include "brelt/auto_connect_api_client.h"

#include <algorithm>
#include <utility>

#include "brelt/log.h"

namespace brelt {

namespace {

const char* const kTag = "AutoConnectApiClient";

}  // namespace

AutoConnectApiClient::AutoConnectApiClient(uv_loop_t* loop, std::unique_ptr<JsonConnectionFactory> factory,
                                           AutoConnectTimings timings, size_t max_held_bytes)
    : timings_(std::move(timings)),
      factory_(std::move(factory)),
      max_held_bytes_(max_held_bytes),
      ping_timer_(loop, timings_.ping_ms, true, [this] { ping(); }),
      idle_timer_(loop, timings_.idle_ms, false, [this] { on_idle(); }),
      reaper_(loop, 0, false,
              [this] {
                reaper_.stop();
                retired_.clear();
              }),
      backoff_(
          loop, timings_.backoff_initial_ms, timings_.backoff_maximum_ms, timings_.backoff_window_ms,
          [this] { connect(); }, timings_.backoff_factor, timings_.clock) {}

AutoConnectApiClient::~AutoConnectApiClient() {
  // Connections go first, while the timers their callbacks may touch still exist.
  connection_.reset();
  retired_.clear();
  ping_timer_.stop();
  idle_timer_.stop();
  reaper_.stop();
}

void AutoConnectApiClient::connect() {
  if (state_ != State::Disconnected) return;
  setup_connection();
  state_ = State::Connecting;
  connection_->connect();
}

void AutoConnectApiClient::setup_connection() {
  connection_ = factory_->create();
  // Each callback names its connection: once that connection is retired, whatever it still
  // reports is ignored, so two connections never deliver at the same time.
  JsonConnection* connection = connection_.get();
  connection->on_connect = [this, connection] { on_connected(connection); };
  connection->on_data = [this, connection](jsonette::Json value) {
    if (connection == connection_.get()) _notify_data(std::move(value));
  };
  connection->on_end = [this, connection] { on_disconnected(connection, false); };
  connection->on_read_error = [this, connection](Error error) {
    if (connection != connection_.get()) return;
    on_disconnected(connection, true);
    _notify_read_error(std::move(error));
  };
  connection->on_write_error = [this, connection](Error error) {
    if (connection != connection_.get()) {
      // Writes a connection lost while it went away are still the owner's to know about.
      if (error.tag == kNotSentTag) _notify_write_error(std::move(error));
      return;
    }
    on_disconnected(connection, true);
    _notify_write_error(std::move(error));
  };
}

void AutoConnectApiClient::connect_now() {
  idle_ = false;
  idle_timer_.stop();
  backoff_.reset();
  connect();
}

void AutoConnectApiClient::disconnect() { sleep(); }

void AutoConnectApiClient::drop_held() {
  held_.clear();
  held_bytes_ = 0;
}

void AutoConnectApiClient::on_idle() {
  // Held messages mean the connection this period was for has not come up yet: going to sleep
  // would leave them for whatever wakes the client next. The period starts over instead.
  if (!held_.empty()) {
    idle_timer_.start();
    return;
  }
  sleep();
}

void AutoConnectApiClient::sleep() {
  idle_ = true;
  idle_timer_.stop();
  backoff_.reset();
  if (state_ == State::Connected) {
    state_ = State::Ending;
    connection_->end();
  }
}

bool AutoConnectApiClient::idle_after(uint64_t ms) {
  if (idle_timer_.is_running()) return true;
  idle_timer_.start_once(ms);
  return false;
}

bool AutoConnectApiClient::idle_after() { return idle_after(timings_.idle_ms); }

void AutoConnectApiClient::_write(jsonette::Json&& value) {
  if (idle_) {
    idle_ = false;
    idle_timer_.stop();
    backoff_.reset();
    connect();
    // Only the waking write arms the idle timer: a lazily opened connection lasts one idle
    // period whatever the traffic, unless the owner keeps it with connect_now().
    idle_timer_.start();
  }
  if (state_ == State::Connected && held_.empty()) {
    connection_->write(std::move(value));
    return;
  }
  const size_t size = value.dump().size();
  if (size > max_held_bytes_ - std::min(held_bytes_, max_held_bytes_)) {
    _notify_write_error(queue_full_error(ErrorCode::NetworkError, size, held_bytes_, max_held_bytes_));
    return;
  }
  held_bytes_ += size;
  held_.push_back(Held{std::move(value), size});
  flush_held();
}

void AutoConnectApiClient::_end() { log_info(kTag, ".end is not supported, call disconnect"); }

void AutoConnectApiClient::flush_held() {
  // A write may fail the connection synchronously; what is still held then waits for the next.
  while (state_ == State::Connected && !held_.empty()) {
    jsonette::Json value = std::move(held_.front().value);
    held_bytes_ -= held_.front().size;
    held_.pop_front();
    connection_->write(std::move(value));
  }
}

void AutoConnectApiClient::ping() {
  if (state_ != State::Connected) return;
  connection_->write(jsonette::Json(jsonette::Json::object{{"method", "ping"}}));
}

void AutoConnectApiClient::on_connected(JsonConnection* connection) {
  if (connection != connection_.get()) return;
  state_ = State::Connected;
  ping_timer_.start();
  // Whatever the owner writes from its callback is queued behind the held messages and flushes
  // them in order.
  if (on_connect) on_connect();
  // Held messages go out even when the client has been put to sleep meanwhile: they were written
  // for this connection, which carries them before it is ended.
  flush_held();
  if (idle_ && state_ == State::Connected) {
    state_ = State::Ending;
    connection_->end();
  }
}

void AutoConnectApiClient::on_disconnected(JsonConnection* connection, bool failed) {
  if (connection != connection_.get()) return;
  State previous = state_;
  state_ = State::Disconnected;
  ping_timer_.stop();
  retired_.push_back(std::move(connection_));
  reaper_.start_once(0);
  // A failed connection may still have its transport open; close it so nothing more is sent to a
  // peer that is no longer trusted to answer.
  if (failed && !connection->ended) connection->end();
  if ((previous == State::Connected || previous == State::Ending) && on_end) on_end();
  if (!idle_) backoff_.attempt();
}

}  // namespace brelt
