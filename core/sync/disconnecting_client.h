// A request/response client that holds a connection only while it has requests outstanding. It
// connects its stream on the first request, writes each request as {"id", "method", "params"},
// matches replies to callbacks by "id" and ends the stream once the last outstanding request has
// been answered. When the stream ends or fails, every request written to it fails with
// {"code": "NETWORK", "message": text} and a fresh stream is prepared on a later turn of the loop,
// never from inside the old stream's own callback. There is no request time-out.
//
// States:
//   0  the current stream has not been asked to connect; `send` connects it and writes (-> 1)
//   1  connected or connecting; `send` writes; the reply to the last pending request ends the
//      stream (-> 2)
//   2  ended after its last reply, or lost; `send` queues the request for the next stream
// An end or error of the stream in any state fails the written requests (-> 2) and arms the timer,
// whose callback makes a fresh stream: state 0, or 1 with the queued requests written right after
// `connect`. Queued requests keep their callbacks across the change of stream.
//
// Threads: everything runs on the core thread (`send`, the stream's callbacks, the timer); no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "brelt/error.h"
#include "brelt/streams.h"
#include "brelt/timer.h"
#include "brelt/uv_thread.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

class DisconnectingClient {
 public:
  using Stream = brelt::DuplexConnectStream<jsonette::Json, jsonette::Json, brelt::Error>;
  using StreamFactory = brelt::DuplexConnectStreamFactory<jsonette::Json, jsonette::Json, brelt::Error>;
  // (error, result): the reply's "error" and "result", or a "NETWORK" error and null.
  using Callback = std::function<void(jsonette::Json error, jsonette::Json result)>;

  DisconnectingClient(brelt::UvThread& thread, std::unique_ptr<StreamFactory> factory);
  ~DisconnectingClient();
  DisconnectingClient(const DisconnectingClient&) = delete;
  DisconnectingClient& operator=(const DisconnectingClient&) = delete;

  // Sends one request; `callback` is called exactly once, unless the client is destroyed first.
  // A callback already pending under `id` is replaced.
  void send(std::string method, jsonette::Json params, std::string id, Callback callback);

  int32_t state() const { return state_; }

 private:
  void _setup_client();
  void _on_reply(const jsonette::Json& reply);
  void _connection_lost(const std::string& message);
  // Calls every callback of the written requests with (error, null); a request sent from one of
  // them is not failed by the same pass.
  void _fail_all_pending(const jsonette::Json& error);

  int32_t state_ = 0;
  brelt::Timer timer_;
  std::unique_ptr<StreamFactory> factory_;
  std::unique_ptr<Stream> stream_;
  std::unordered_map<std::string, Callback> pending_;  // written to the current stream
  // Waiting for the next stream (state 2), in sending order, each with its callback.
  std::vector<std::pair<jsonette::Json, Callback>> queue_;
};

}  // namespace libkestrun::internal
