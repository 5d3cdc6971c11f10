// Pushed documents applied through the server client's data tasks: the document listeners hear an
// applied document, and a task still queued when the client goes never reaches it.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/foundation/json_conversion.h"
#include "server_client_fixture.h"
#include "support/fake_account_manager.h"

namespace kestrun_test {
namespace {

// An e-mail of the sample account, new to the device and not sent by the user.
Json email(const std::string& id) {
  return Json::object{
      {"_id", id}, {"acct_id", kSampleAccount}, {"p_id", "I1"}, {"created_at", 7}, {"sent", false}};
}

class ServerClientDocumentsTest : public ServerClientTest {
 protected:
  ServerClientDocumentsTest() {
    account_manager_->account_authenticated = true;
    libkestrun::account_manager_set_instance(account_manager_);
  }
  ~ServerClientDocumentsTest() override { libkestrun::account_manager_set_instance(nullptr); }

  std::shared_ptr<FakeAccountManager> account_manager_ = std::make_shared<FakeAccountManager>();
};

TEST_F(ServerClientDocumentsTest, ATaskQueuedBeforeTheClientWentCallsNoListener) {
  make_client();
  std::vector<std::string> heard;  // the core thread's, read once it is idle
  std::atomic<int> applied = 0;
  client_->document_listeners.push_back([&](const std::string& id, const std::string& type) {
    heard.push_back(id + " " + type);
    ++applied;
  });
  run_on(thread_, [&] { client_->processDocument(email("E1"), "email"); });
  ASSERT_TRUE(wait_until([&] { return applied == 1; }));

  // The destructor's work runs at once on the core thread; the document's task comes after it.
  std::atomic<bool> later = false;
  run_on(thread_, [&] {
    client_->processDocument(email("E2"), "email");
    libkestrun::internal::server_client_set_instance(nullptr);
    client_.reset();
    patch::JanssonPtr third(patch::jansson_from_json(email("E3")));
    KestrunDataCenter::processDocument(third.get(), "email", nullptr,
                                       [&](std::vector<std::string>&) { later = true; });
  });
  ASSERT_TRUE(wait_until([&] { return later.load(); }));
  run_on(thread_, [] {});
  EXPECT_EQ(heard, std::vector<std::string>{"E1 email"});
}

}  // namespace
}  // namespace kestrun_test
