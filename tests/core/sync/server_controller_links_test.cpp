// The controller's links over the real server client and the local sync server: the restart that
// forgets what was written for the previous user.
#include "core/sync/server_controller_links.h"

#include <gtest/gtest.h>

#include "server_client_fixture.h"

namespace kestrun_test {
namespace {

const char* const kClosed = "com.kestrun.did.close.connection";

Json save(const std::string& id) {
  return Json::object{
      {"method", "ITEM_SAVE"},
      {"id", id},
      {"params", Json::object{{"doc", Json::object{{"_id", id}, {"acct_id", kSampleAccount}}}}}};
}

TEST_F(ServerClientTest, ARestartForgetsHeldMessagesAndConnectsAnew) {
  start_server();
  register_device();
  make_client();

  // Written while the first connection is on its way, so held for it; the restart forgets it.
  run_on(thread_, [&] {
    client_->write_message(save("held"));
    client_->restart_dropping_held();
  });
  // Frames are served in order: once the probe is answered, "held" would have been answered too.
  connect_authenticated();
  EXPECT_EQ(trace().find("\"held\""), std::string::npos) << "the held message reached the server";

  // A live connection is ended and a new one comes up without another call.
  run_on(thread_, [&] { client_->restart_dropping_held(); });
  ASSERT_TRUE(wait_posted(kClosed));
  ASSERT_TRUE(wait_until([&] { return client_->is_connected(); }));
  connect_authenticated();
  EXPECT_EQ(count(kClosed), 1u);
}

}  // namespace
}  // namespace kestrun_test
