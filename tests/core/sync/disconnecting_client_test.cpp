// The disconnecting client over real API-client connections to the local sync server on
// 127.0.0.1. The connections are not authenticated, so the server answers every snapshot request
// with the error "U1": a real reply matched by its id.
#include "core/sync/disconnecting_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/uv_thread.h"
#include "client_options.h"
#include "support/on_loop.h"
#include "support/wait.h"
#include "tools/sync_server/server_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::run_on;
using kestrun_test::wait_until;
using libkestrun::internal::DisconnectingClient;

// The API-client factory, counting the connections it makes.
class CountingFactory : public DisconnectingClient::StreamFactory {
 public:
  CountingFactory(uv_loop_t* loop, brelt::ApiClient::Options options, std::atomic<int>* made)
      : inner_(nullptr, loop, std::move(options)), made_(made) {}
  std::unique_ptr<DisconnectingClient::Stream> create() override {
    ++*made_;
    return inner_.create();
  }

 private:
  brelt::ApiClientFactory inner_;
  std::atomic<int>* made_;
};

class DisconnectingClientTest : public sync_server_test::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    start();
  }
  void TearDown() override {
    run_on(thread_, [&] { client_.reset(); });
  }

  void make_client(uint16_t port) {
    const brelt::ApiClient::Options options = kestrun_test::client_options(port);
    run_on(thread_, [&] {
      client_ = std::make_unique<DisconnectingClient>(
          thread_, std::make_unique<CountingFactory>(thread_.get_loop(), options, &made_));
    });
  }

  // Sends a snapshot request whose callback records "<id> <error code> <result is null>".
  void send(const std::string& id) {
    run_on(thread_, [&] {
      client_->send("ACCOUNT_SNAPSHOT", Json::object{{"account_id", "A"}}, id, recorder(id));
    });
  }
  DisconnectingClient::Callback recorder(const std::string& id) {
    return [this, id](Json error, Json result) {
      std::lock_guard<std::mutex> lock(mutex_);
      answers_.push_back(id + " " + error["code"].string_value() + (result.is_null() ? " null" : " result"));
      messages_.push_back(error["message"].string_value());
    };
  }
  std::vector<std::string> answers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_;
  }
  int state() {
    return run_on(thread_, [&] { return client_->state(); });
  }

  brelt::UvThread thread_{true};
  std::unique_ptr<DisconnectingClient> client_;
  std::atomic<int> made_{0};
  std::mutex mutex_;
  std::vector<std::string> answers_;
  std::vector<std::string> messages_;
};

TEST_F(DisconnectingClientTest, HoldsTheConnectionOnlyWhileRequestsAreOutstanding) {
  make_client(server_->port());
  EXPECT_EQ(state(), 0);
  EXPECT_EQ(made_.load(), 1);

  send("R1");
  send("R2");  // written to the same connection
  EXPECT_EQ(state(), 1);
  ASSERT_TRUE(wait_until([&] { return answers().size() == 2; }));
  EXPECT_EQ(answers(), (std::vector<std::string>{"R1 U1 null", "R2 U1 null"}));

  // The last reply ended the connection; its close brings a fresh, unconnected stream.
  ASSERT_TRUE(wait_until([&] { return made_.load() == 2; }));
  EXPECT_EQ(state(), 0);
  send("R3");
  ASSERT_TRUE(wait_until([&] { return answers().size() == 3; }));
  EXPECT_EQ(answers().back(), "R3 U1 null");
}

TEST_F(DisconnectingClientTest, ARequestSentAfterTheLastReplyWaitsForTheNextConnection) {
  make_client(server_->port());
  run_on(thread_, [&] {
    client_->send("ACCOUNT_SNAPSHOT", Json::object{}, "R1", [this](Json error, Json result) {
      recorder("R1")(error, result);
      // The connection is being ended: this request is queued, and keeps its callback.
      EXPECT_EQ(client_->state(), 2);
      client_->send("ACCOUNT_SNAPSHOT", Json::object{}, "R2", recorder("R2"));
    });
  });
  ASSERT_TRUE(wait_until([&] { return answers().size() == 2; }));
  // R2 was answered by the server, over the second connection, which its reply ended in turn.
  EXPECT_EQ(answers(), (std::vector<std::string>{"R1 U1 null", "R2 U1 null"}));
  EXPECT_TRUE(wait_until([&] { return made_.load() == 3; }));
}

TEST_F(DisconnectingClientTest, ALostConnectionFailsEveryOutstandingRequestOnce) {
  make_client(server_->port());
  server_->drop_next("ACCOUNT_SNAPSHOT", 2);
  send("R1");
  send("R2");
  // The server goes away with both requests unanswered.
  ASSERT_TRUE(wait_until([&] { return state() == 1; }));
  server_.reset();
  ASSERT_TRUE(wait_until([&] { return answers().size() == 2; }));
  std::vector<std::string> got = answers();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"R1 NETWORK null", "R2 NETWORK null"}));
  ASSERT_TRUE(wait_until([&] { return made_.load() == 2; }));
  EXPECT_EQ(state(), 0);
}

TEST_F(DisconnectingClientTest, ARequestSentFromAFailureIsAnsweredAfterTheConnectionIsLost) {
  make_client(server_->port());
  // R1 stays unanswered on an established connection: the reply to R0, sent after it, shows that
  // the server has read it.
  server_->drop_next("USER_AUTH_DEVICE", 1);
  run_on(thread_, [&] {
    client_->send("USER_AUTH_DEVICE", Json::object{}, "R1", [this](Json error, Json result) {
      recorder("R1")(error, result);
      // A retry from the failure: it goes to the next connection, never to the lost one.
      client_->send("ACCOUNT_SNAPSHOT", Json::object{}, "R2", recorder("R2"));
    });
    client_->send("NO_SUCH_METHOD", Json::object{}, "R0", recorder("R0"));
  });
  ASSERT_TRUE(wait_until([&] { return answers().size() == 1; }));
  server_.reset();
  ASSERT_TRUE(wait_until([&] { return answers().size() == 3; }));
  EXPECT_EQ(answers(), (std::vector<std::string>{"R0 M1 null", "R1 NETWORK null", "R2 NETWORK null"}));
}

TEST_F(DisconnectingClientTest, AFailedConnectionCarriesItsErrorText) {
  uint16_t closed_port = server_->port();
  server_.reset();
  make_client(closed_port);
  send("R1");
  ASSERT_TRUE(wait_until([&] { return answers().size() == 1; }));
  EXPECT_EQ(answers()[0], "R1 NETWORK null");
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_NE(messages_[0], "network has disconnected");
  EXPECT_NE(messages_[0].find("NetworkError"), std::string::npos) << messages_[0];
}

}  // namespace
