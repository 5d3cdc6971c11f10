// Connection and application state through the facade, against the local sync server.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "registered_fixture.h"

namespace kestrun_test {
namespace {

class ConnectionTest : public RegisteredApiTest {};

TEST_F(ConnectionTest, ConnectAndDisconnectFollowTheConnectionAndWriteTheTrace) {
  start_registered();
  api_->connect();
  ASSERT_TRUE(wait_until([&] { return api_->is_connected(); }));
  EXPECT_NE(trace().find("|Api::connect\n"), std::string::npos);

  // With no background task left the connection closes at once.
  ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); }));
  NotificationWaiter closed("com.kestrun.did.close.connection");
  api_->disconnect();
  ASSERT_TRUE(closed.wait());
  EXPECT_FALSE(api_->is_connected());
  EXPECT_NE(trace().find("|Api::disconnect\n"), std::string::npos);
}

// A blocking background sync answers the value its completion receives: -2 while the connection
// is up; on the core thread, where its completion could never run, -1 at once.
TEST_F(ConnectionTest, BlockingBackgroundSyncAnswersAndNeverWaitsForItself) {
  start_registered();
  api_->connect();
  ASSERT_TRUE(wait_until([&] { return api_->is_connected(); }));
  EXPECT_EQ(api_->background_sync_blocking(), -2);
  EXPECT_EQ(on_core([&] { return api_->background_sync_blocking(); }), -1);
}

TEST_F(ConnectionTest, ConnectionTypeAndAppStateReachTheirManagers) {
  start();
  EXPECT_EQ(api_->get_current_connection_type(), libkestrun::INTERNET_CONNECTION_WIFI);
  api_->handle_internet_connection_changed(libkestrun::INTERNET_CONNECTION_CELLULAR);
  on_core([] {});
  EXPECT_EQ(api_->get_current_connection_type(), libkestrun::INTERNET_CONNECTION_CELLULAR);
  api_->app_opened("Europe/Oslo", "de");
  api_->app_closed(true);
  on_core([] {});
  EXPECT_TRUE(api_->get_latest_number_of_items_in_inbox(0)->empty());
  EXPECT_TRUE(api_->get_items_with_unread_emails_since_timestamp(0)->empty());
}

// The server closes the connection on a frame over its limit while the client is still writing
// it: the facade's set-up leaves SIGPIPE ignored, so the failed write ends the connection and not
// the process.
TEST_F(ConnectionTest, AServerClosingMidWriteLeavesTheProcessAlive) {
  server_.reset();
  sync_server::ServerOptions options;
  options.state_directory = dir_.file("server");
  options.hmac_key = sync_server_test::test_key();
  options.max_frame_bytes = 64u << 10;
  server_ = std::make_unique<sync_server::SyncServer>(options);
  signal(SIGPIPE, SIG_DFL);
  start_registered();
  api_->connect();
  ASSERT_TRUE(wait_until([&] { return api_->is_connected(); }));

  struct sigaction action {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
  EXPECT_EQ(action.sa_handler, SIG_IGN);

  NotificationWaiter closed("com.kestrun.did.close.connection");
  const std::string token(1u << 20, 'x');
  for (int i = 0; i < 4; ++i) api_->update_device_token(token);
  EXPECT_TRUE(closed.wait());
}

}  // namespace
}  // namespace kestrun_test
