// The auto-connecting client's state logic, over connections the test drives by hand. The real
// connection chain is exercised against the test peer in api_client_peer_test.cpp.
#include "brelt/auto_connect_api_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace brelt {
namespace {

using namespace std::chrono_literals;
using jsonette::Json;

Json message(const std::string& name) { return Json(Json::object{{"method", name}}); }
const Json kPing = message("ping");

// What the client did to one connection; outlives the connection, which the client destroys.
struct Trace {
  int connects = 0;
  std::vector<Json> written;
  bool ended = false;
  bool alive = true;
};

// A connection the test drives: it reports what the client asks for and raises the events the
// test calls. Like the real chain, ending it reports its end at once.
class HandDriven : public JsonConnection {
 public:
  explicit HandDriven(std::shared_ptr<Trace> trace) : trace_(std::move(trace)) {}
  ~HandDriven() override { trace_->alive = false; }

  void connect() override { ++trace_->connects; }
  void up() { on_connect(); }
  void receive(Json value) { _notify_data(std::move(value)); }
  void finish() { _notify_end(); }
  void fail_read() { _notify_read_error(Error(ErrorCode::NetworkError, -111, "ECONNREFUSED")); }
  void fail_write() { _notify_write_error(Error(ErrorCode::TlsError, 1, "SSL_ERROR_SSL")); }
  void lose_writes() { _notify_write_error(Error(ErrorCode::NetworkError, 40, kNotSentTag)); }

  bool reports_end_at_once = true;

 protected:
  void _write(Json&& value) override { trace_->written.push_back(std::move(value)); }
  void _end() override {
    trace_->ended = true;
    if (reports_end_at_once) _notify_end();
  }

 private:
  std::shared_ptr<Trace> trace_;
};

class HandDrivenFactory : public JsonConnectionFactory {
 public:
  struct Made {
    HandDriven* connection;
    std::shared_ptr<Trace> trace;
  };
  explicit HandDrivenFactory(std::vector<Made>* made) : made_(made) {}
  std::unique_ptr<JsonConnection> create() override {
    auto trace = std::make_shared<Trace>();
    auto connection = std::make_unique<HandDriven>(trace);
    made_->push_back({connection.get(), trace});
    return connection;
  }

 private:
  std::vector<Made>* made_;
};

// The client on a loop of the test's own thread; the loop runs only when the test says so.
class AutoConnectTest : public ::testing::Test {
 public:
  void SetUp() override { uv_loop_init(&loop_); }
  void TearDown() override {
    client_.reset();
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(uv_loop_close(&loop_), 0) << "a handle was left open";
  }

  void make(AutoConnectTimings timings = {}, size_t max_held = AutoConnectApiClient::kDefaultMaxHeldBytes) {
    client_ = std::make_unique<AutoConnectApiClient>(&loop_, std::make_unique<HandDrivenFactory>(&made_),
                                                     std::move(timings), max_held);
    client_->on_connect = [this] { events_.push_back("connect"); };
    client_->on_data = [this](Json value) { events_.push_back("data " + value.dump()); };
    client_->on_end = [this] { events_.push_back("end"); };
    client_->on_read_error = [this](Error error) { events_.push_back("read error " + error.tag); };
    client_->on_write_error = [this](Error error) { events_.push_back("write error " + error.tag); };
  }

  // Runs the loop until `done` holds, failing after a generous deadline.
  template <class Pred>
  bool run_until(Pred done) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      uv_run(&loop_, UV_RUN_NOWAIT);
    }
    return true;
  }

  HandDriven& live(size_t i) {
    EXPECT_TRUE(made_.at(i).trace->alive);
    return *made_.at(i).connection;
  }
  Trace& trace(size_t i) { return *made_.at(i).trace; }

  // Runs a back-off attempt and the reconnect it schedules, with the output it prints.
  void reconnect() {
    size_t before = made_.size();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(run_until([&] { return made_.size() == before + 1; }));
    testing::internal::GetCapturedStdout();
  }

  uv_loop_t loop_;
  std::vector<HandDrivenFactory::Made> made_;
  std::vector<std::string> events_;
  std::unique_ptr<AutoConnectApiClient> client_;
};

TEST_F(AutoConnectTest, FirstWriteConnectsAndIsSentOnceConnectedAheadOfTheOwnersWrites) {
  make();
  EXPECT_EQ(client_->state(), AutoConnectApiClient::State::Disconnected);
  EXPECT_TRUE(made_.empty());

  client_->write(message("first"));
  ASSERT_EQ(made_.size(), 1u);
  EXPECT_EQ(trace(0).connects, 1);
  EXPECT_TRUE(client_->is_connecting());
  EXPECT_TRUE(trace(0).written.empty()) << "nothing goes to a connection that is not up";

  client_->on_connect = [this] { client_->write(message("from on_connect")); };
  live(0).up();
  EXPECT_TRUE(client_->is_connected());
  EXPECT_EQ(trace(0).written, (std::vector<Json>{message("first"), message("from on_connect")}));

  live(0).receive(message("reply"));
  client_->write(message("later"));
  EXPECT_EQ(trace(0).written.back(), message("later"));
  EXPECT_EQ(made_.size(), 1u);
}

// Whatever the state at the time of the write, the value reaches the next established connection
// exactly once and never a connection that is ending or has failed.
TEST_F(AutoConnectTest, WritesWaitForAnEstablishedConnection) {
  struct Case {
    const char* name;
    void (*before)(AutoConnectTest&);
  };
  const std::vector<Case> cases = {
      {"connecting", [](AutoConnectTest&) {}},
      {"connecting, then refused",
       [](AutoConnectTest& t) {
         t.live(0).fail_read();
         t.reconnect();
       }},
      {"connected, then the server ends it",
       [](AutoConnectTest& t) {
         t.live(0).up();
         t.live(0).finish();
         t.reconnect();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    made_.clear();
    make({.backoff_initial_ms = 1});
    client_->connect_now();
    c.before(*this);
    client_->write(message("held"));
    size_t last = made_.size() - 1;
    live(last).up();
    size_t sent = 0;
    for (auto& m : made_) {
      for (auto& v : m.trace->written) sent += v == message("held");
    }
    EXPECT_EQ(sent, 1u);
    EXPECT_EQ(trace(last).written, std::vector<Json>{message("held")});
    client_.reset();
    uv_run(&loop_, UV_RUN_DEFAULT);
  }
}

TEST_F(AutoConnectTest, HeldMessagesAreBoundedAndAWriteBeyondIsRefusedWithAnError) {
  // {"method":"held"} is 17 bytes of text: two fit in 40, a third does not.
  make({}, 40);
  client_->connect_now();
  client_->write(message("held"));
  client_->write(message("held"));
  client_->write(message("over"));
  EXPECT_EQ(events_, std::vector<std::string>{"write error SEND_QUEUE_FULL"});
  live(0).up();
  EXPECT_EQ(trace(0).written, (std::vector<Json>{message("held"), message("held")}));
  // Sent messages no longer count, and a connected client holds nothing.
  client_->write(message("sent"));
  client_->write(message("sent"));
  client_->write(message("sent"));
  EXPECT_EQ(trace(0).written.size(), 5u);
  EXPECT_EQ(events_, (std::vector<std::string>{"write error SEND_QUEUE_FULL", "connect"}));
}

// Writes a connection lost are reported even when it was already replaced.
TEST_F(AutoConnectTest, WritesLostByARetiredConnectionAreStillReported) {
  make();
  client_->connect_now();
  live(0).up();
  live(0).finish();
  live(0).lose_writes();
  live(0).fail_write();  // other failures of a retired connection are ignored
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "end", "write error NOT_SENT"}));
}

TEST_F(AutoConnectTest, WriteWhileBackingOffWaitsForTheReconnect) {
  make({.backoff_initial_ms = 1});
  client_->connect_now();
  live(0).up();
  live(0).fail_write();
  client_->write(message("held"));
  EXPECT_TRUE(trace(0).written.empty());
  reconnect();
  live(1).up();
  EXPECT_EQ(trace(1).written, std::vector<Json>{message("held")});
}

TEST_F(AutoConnectTest, WriteWhileEndingWaitsAndWakesTheClient) {
  make({.backoff_initial_ms = 1});
  client_->connect_now();
  live(0).up();
  live(0).reports_end_at_once = false;
  client_->disconnect();
  ASSERT_EQ(client_->state(), AutoConnectApiClient::State::Ending);
  client_->write(message("held"));
  live(0).finish();
  reconnect();
  live(1).up();
  EXPECT_TRUE(trace(0).written.empty());
  EXPECT_EQ(trace(1).written, std::vector<Json>{message("held")});
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "end", "connect"}));
}

TEST_F(AutoConnectTest, FailureIsReportedAfterTheEndAndTheConnectionIsEndedAndIgnored) {
  struct Case {
    const char* name;
    bool established;
    void (*fail)(HandDriven&);
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"refused while connecting", false, [](HandDriven& c) { c.fail_read(); }, {"read error ECONNREFUSED"}},
      {"read error while connected",
       true,
       [](HandDriven& c) { c.fail_read(); },
       {"connect", "end", "read error ECONNREFUSED"}},
      {"write error while connected",
       true,
       [](HandDriven& c) { c.fail_write(); },
       {"connect", "end", "write error SSL_ERROR_SSL"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    made_.clear();
    events_.clear();
    make();
    client_->connect_now();
    if (c.established) live(0).up();
    HandDriven& failed = live(0);
    c.fail(failed);
    EXPECT_EQ(events_, c.events);
    EXPECT_EQ(client_->state(), AutoConnectApiClient::State::Disconnected);
    EXPECT_TRUE(trace(0).ended) << "a failed connection is closed at once";
    // Whatever the failed connection still reports goes nowhere.
    failed.receive(message("late"));
    failed.finish();
    failed.fail_read();
    EXPECT_EQ(events_, c.events);
    client_.reset();
    uv_run(&loop_, UV_RUN_DEFAULT);
  }
}

TEST_F(AutoConnectTest, FailuresReconnectWithTheBackOff) {
  auto now = std::chrono::steady_clock::time_point(1h);
  make({.clock = [&now] { return now; }});
  client_->connect_now();
  live(0).fail_read();
  ASSERT_TRUE(run_until([&] { return made_.size() == 2; })) << "the first reconnect is immediate";
  EXPECT_TRUE(client_->is_connecting());
  testing::internal::CaptureStdout();
  live(1).fail_read();
  live(1).fail_read();  // ignored: the connection is already retired
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "reconnect is too soon, backing off 125 ms\n\n");
  EXPECT_EQ(made_.size(), 2u);
  client_->connect_now();  // cancels the wait and connects at once
  EXPECT_EQ(made_.size(), 3u);
  EXPECT_TRUE(client_->is_connecting());
}

TEST_F(AutoConnectTest, DisconnectWhileConnectingEndsOnceConnectedAndStaysAsleep) {
  make({.backoff_initial_ms = 1});
  client_->connect_now();
  client_->disconnect();
  EXPECT_TRUE(client_->is_connecting());
  live(0).up();
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "end"}));
  EXPECT_TRUE(trace(0).ended);
  EXPECT_EQ(client_->state(), AutoConnectApiClient::State::Disconnected);
  uv_run(&loop_, UV_RUN_NOWAIT);
  EXPECT_EQ(made_.size(), 1u) << "a sleeping client does not reconnect";
}

TEST_F(AutoConnectTest, ConnectOnASleepingClientEndsRightAfterConnecting) {
  make();
  client_->connect();
  client_->connect();  // already connecting: nothing
  ASSERT_EQ(made_.size(), 1u);
  live(0).up();
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "end"}));
  EXPECT_TRUE(trace(0).ended);
}

TEST_F(AutoConnectTest, DisconnectWhileConnectingSendsHeldMessagesBeforeTheEnd) {
  make();
  client_->write(message("held"));
  client_->disconnect();
  live(0).up();
  EXPECT_EQ(trace(0).written, std::vector<Json>{message("held")});
  EXPECT_TRUE(trace(0).ended);
}

TEST_F(AutoConnectTest, DisconnectWhileBackingOffKeepsHeldMessagesForTheNextWake) {
  make({.backoff_initial_ms = 1});
  client_->write(message("held"));
  live(0).fail_read();
  client_->disconnect();
  uv_run(&loop_, UV_RUN_DEFAULT);
  ASSERT_EQ(made_.size(), 1u) << "asleep: no reconnect";
  client_->connect_now();
  live(1).up();
  EXPECT_EQ(trace(1).written, std::vector<Json>{message("held")});
}

TEST_F(AutoConnectTest, DroppedHeldMessagesNeverLeave) {
  // Held while connecting, and held across a sleep while backing off.
  make({.backoff_initial_ms = 1});
  client_->write(message("connecting"));
  client_->disconnect();
  client_->drop_held();
  live(0).up();
  EXPECT_TRUE(trace(0).written.empty());
  uv_run(&loop_, UV_RUN_DEFAULT);

  client_->write(message("old"));
  live(1).fail_read();
  client_->disconnect();
  client_->drop_held();
  client_->connect_now();
  client_->write(message("new"));
  live(2).up();
  EXPECT_EQ(trace(2).written, std::vector<Json>{message("new")});
}

TEST_F(AutoConnectTest, PingsWhileConnectedOnly) {
  make({.ping_ms = 2});
  client_->connect_now();
  live(0).up();
  auto pings = [&](size_t i) {
    size_t n = 0;
    for (auto& v : trace(i).written) n += v == kPing;
    return n;
  };
  ASSERT_TRUE(run_until([&] { return pings(0) >= 2; }));
  EXPECT_EQ(trace(0).written, std::vector<Json>(trace(0).written.size(), kPing));
  live(0).finish();
  size_t after_end = pings(0);
  client_->disconnect();
  uv_run(&loop_, UV_RUN_DEFAULT);  // returns only once no timer is left running
  EXPECT_EQ(pings(0), after_end);
}

TEST_F(AutoConnectTest, LazilyOpenedConnectionIsClosedAfterTheIdlePeriod) {
  make({.idle_ms = 2});
  client_->write(message("wake"));
  live(0).up();
  ASSERT_TRUE(run_until([&] { return trace(0).ended; }));
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "end"}));
  EXPECT_EQ(client_->state(), AutoConnectApiClient::State::Disconnected);
  uv_run(&loop_, UV_RUN_DEFAULT);
  EXPECT_EQ(made_.size(), 1u) << "asleep again: no reconnect";
}

// The idle period closes a connection that has done its work; it does not put the client to sleep
// on messages it was woken to send while the server was unreachable.
TEST_F(AutoConnectTest, IdlePeriodWaitsForHeldMessagesToGoOut) {
  make({.idle_ms = 1, .backoff_initial_ms = 1});
  client_->write(message("held"));
  live(0).fail_read();
  reconnect();
  // Each pass blocks until the next timer is due: only the idle timer is left.
  for (int i = 0; i < 3; ++i) uv_run(&loop_, UV_RUN_ONCE);
  live(1).up();
  EXPECT_EQ(trace(1).written, std::vector<Json>{message("held")});
  ASSERT_TRUE(run_until([&] { return trace(1).ended; }))
      << "closed when the period in which it delivered ends";
  EXPECT_EQ(events_, (std::vector<std::string>{"read error ECONNREFUSED", "connect", "end"}));
}

TEST_F(AutoConnectTest, ConnectNowKeepsTheConnectionPastTheIdlePeriod) {
  make({.idle_ms = 2});
  client_->write(message("wake"));
  client_->connect_now();
  live(0).up();
  EXPECT_FALSE(client_->idle_after(60000)) << "connect_now stopped the idle timer";
  EXPECT_TRUE(client_->idle_after(5000)) << "already running: unchanged";
  uv_run(&loop_, UV_RUN_NOWAIT);
  EXPECT_FALSE(trace(0).ended);
  client_->disconnect();
}

TEST_F(AutoConnectTest, EndIsRefusedAndLaterWritesAreDropped) {
  make();
  testing::internal::CaptureStdout();
  client_->end();
  client_->write(message("after"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "brelt::AutoConnectApiClient: .end is not supported, call disconnect\n"
            "brelt::Stream: usage error: write after end\n");
  EXPECT_TRUE(made_.empty());
}

}  // namespace
}  // namespace brelt
