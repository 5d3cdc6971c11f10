// Listeners of the core's notifications, the undo of the last triage step and the answers to
// meeting invitations, through the facade over a whole core.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/data/data_writer.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/semaphore.h"
#include "core/model/data_query.h"
#include "core/model/item_orderings.h"
#include "core/model/ks_item.h"
#include "core/services/http_manager.h"
#include "localization/localization.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "tools/https_test_server/https_test_server.h"

namespace kestrun_test {
namespace {

using jsonette::Json;

class ApiNotificationsTest : public ApiTest {
 protected:
  ApiNotificationsTest() { start(); }

  // Posts through the centre the facade registered and waits until the core thread has delivered
  // it: the delivery is queued before the closure that run_on waits for.
  void deliver(const std::string& name, const Json& payload = Json()) {
    libkestrun::notification_center_post_notification(name, payload);
    on_core([] {});
  }

  // Listeners run on the core thread; the test reads `heard` only after deliver().
  libkestrun::NotificationListener recorder(const std::string& tag) {
    return [this, tag](const std::string& name, const Json& payload) {
      heard.push_back(tag + " " + name + " " + payload.dump());
    };
  }

  std::vector<std::string> heard;
};

TEST_F(ApiNotificationsTest, ANameAndKeyRegisteredTwiceCallsOnlyTheLaterListenerOnce) {
  int key = 0;
  api_->listen_to_notification("com.kestrun.test.one", &key, recorder("earlier"));
  api_->listen_to_notification("com.kestrun.test.one", &key, recorder("later"));
  deliver("com.kestrun.test.one", Json::object{{"n", 7}});
  EXPECT_EQ(heard, (std::vector<std::string>{R"(later com.kestrun.test.one {"n":7})"}));
}

TEST_F(ApiNotificationsTest, StoppingByKeySilencesEveryNameAndByNameOnlyThatOne) {
  int a = 0;
  int b = 0;
  for (const char* name : {"com.kestrun.test.x", "com.kestrun.test.y"}) {
    api_->listen_to_notification(name, &a, recorder("a"));
    api_->listen_to_notification(name, &b, recorder("b"));
  }
  api_->stop_listening(&a);
  api_->stop_listening("com.kestrun.test.y", &b);
  deliver("com.kestrun.test.x");
  deliver("com.kestrun.test.y");
  EXPECT_EQ(heard, (std::vector<std::string>{"b com.kestrun.test.x null"}));
}

// Records the changes a live query of the inbox reports (on the core thread) and the rows of its
// first pass (on the registering thread).
class InboxRecorder : public libkestrun::ObjectQueryObserver {
 public:
  void set_results(const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lines_.empty()) lines_.push_back("first " + std::to_string(rows.size()));
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, std::shared_ptr<KestrunObject> row,
                    libkestrun::ConsumerChangeType type, int, int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(libkestrun::KestrunId()(row) + " " +
                     (type == libkestrun::ConsumerChangeType::Insert   ? "inserted"
                      : type == libkestrun::ConsumerChangeType::Delete ? "deleted"
                                                                       : "changed"));
  }
  void end_changes(const std::string&) override {}

  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

class ApiUndoTest : public ApiNotificationsTest {
 protected:
  ApiUndoTest() { Localization::instance().set_current_locale("en"); }
  ~ApiUndoTest() override { Localization::instance().set_current_locale(""); }

  // An inbox conversation of one e-mail, stored through a data task.
  static void store_inbox_item(const std::string& id) {
    KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
      item->setItemID(id);
      item->setAccountID("A");
      item->setState(libkestrun::ItemState::Inbox);
      item->setThreadHasEmails(true);
      item->setModifiedAt(1000);
      auto email = std::static_pointer_cast<KSEmail>(context.createObject("KSEMAIL", id + "-mail"));
      email->set_EMAILID(id + "-mail");
      email->set_ACCOUNTID("A");
      email->set_PARENTITEMID(id);
      email->set_CREATEDAT(1000);
      item->addEmail(email);
    });
  }

  // A live query of the inbox, registered with the consumer center.
  std::shared_ptr<InboxRecorder> watch_inbox() {
    auto recorder = std::make_shared<InboxRecorder>();
    KestrunConsumerCenter::addQuery(
        "inbox", "KSITEM",
        std::make_unique<libkestrun::FnObjectQuery>(
            "inbox",
            [](const std::string&, KestrunContext& context) { return context.inboxItemsSinceQuery(0); },
            KSItem::ModifiedAtDesc(), recorder),
        false);
    return recorder;
  }
};

TEST_F(ApiUndoTest, AnArchivedInboxItemComesBackThroughTheLiveQuery) {
  EXPECT_FALSE(api_->has_action_to_undo());
  EXPECT_EQ(api_->alert_message_for_current_state(), "");

  store_inbox_item("I");
  std::shared_ptr<InboxRecorder> inbox = watch_inbox();
  patch::semaphore archived;
  KestrunDataWriter::completeItem("I", [&](std::vector<std::string>&) { archived.notify(); });
  archived.wait();
  EXPECT_EQ(inbox->lines(), (std::vector<std::string>{"first 1", "I deleted"}));

  EXPECT_TRUE(api_->has_action_to_undo());
  EXPECT_EQ(api_->alert_message_for_current_state(),
            "Are you sure you want to undo that, and move 1 item from Archive back to Inbox?");

  NotificationWaiter committed("com.kestrun.undo.was.committed");
  api_->perform_undo_action();
  ASSERT_TRUE(committed.wait());
  EXPECT_EQ(committed.payloads(), (std::vector<Json>{Json()}));
  ASSERT_TRUE(wait_until([&] { return inbox->lines().size() == 3; })) << testing::PrintToString(inbox->lines());
  EXPECT_EQ(inbox->lines().back(), "I inserted");
  // The undo is a triage step of its own.
  EXPECT_EQ(api_->alert_message_for_current_state(),
            "Are you sure you want to undo that, and move 1 item from Inbox back to Archive?");
  KestrunConsumerCenter::endQuery("inbox");
}

// The facade against the local HTTPS server, with its own key-value store so the test can read
// the saved queue of invitation answers, and with the download hook wrapped so the test sees every
// URL that reached the host.
class ApiRsvpTest : public ApiTest {
 protected:
  ApiRsvpTest()
      : server(certificate().certificate_pem, certificate().key_pem),
        store(std::make_shared<libkestrun::LeveldbStore>(dir_.file("kv"))) {
    bridge_ = std::make_shared<kestrun_host::HttpBridge>(dir_.path());
    KSHttp::DownloadHook hook = kestrun_host::HttpBridge::download_hook(bridge_);
    libkestrun::Overrides overrides;
    overrides.kv_store = store;
    api_ = std::make_unique<libkestrun::Api>(
        config(), std::move(overrides),
        [this, hook](const std::string& url, const std::string& method, json_t* params, int timeout,
                     int retries, KSHttp::ProgressFunction progress, bool to_file) {
          {
            std::lock_guard<std::mutex> lock(mutex);
            fetched.push_back(url);
          }
          return hook(url, method, params, timeout, retries, std::move(progress), to_file);
        },
        kestrun_host::HttpBridge::upload_hook(bridge_), [bridge = bridge_] { bridge->stop(); });
  }

  static const KeyedCertificate& certificate() {
    trust_test_authority();
    return test_certificates().localhost;
  }

  // The saved answers, by request id; read on the core thread, where the queue changes.
  Json::object saved() {
    return on_core([&] {
      std::optional<Json> queue =
          libkestrun::JsonKvStore(store).get_json(libkestrun::HttpManager::kSavedUrlsKey);
      return queue ? (*queue)["requests"].object_items() : Json::object{};
    });
  }
  size_t requests_for(const std::string& path) {
    size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path ? 1 : 0;
    return count;
  }
  std::vector<std::string> fetched_urls() {
    std::lock_guard<std::mutex> lock(mutex);
    return fetched;
  }

  https_test_server::HttpsTestServer server;
  std::shared_ptr<libkestrun::KvStore> store;
  std::mutex mutex;
  std::vector<std::string> fetched;  // guarded by mutex
};

TEST_F(ApiRsvpTest, AnAnswerThatMeetsAServiceErrorIsRetriedThenRemoved) {
  // The 503 is held after its head, so the next reply is scripted before the failure is seen.
  https_test_server::Reply unavailable;
  unavailable.status = 503;
  unavailable.body = "busy";
  unavailable.hold_after = 0;
  server.script("/rsvp/yes", unavailable);

  api_->respond_to_rsvp_at_url("E1", server.url("/rsvp/yes"));
  ASSERT_TRUE(server.wait_for_hold());
  Json::object waiting = saved();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting.begin()->second["email_id"], Json("E1"));
  EXPECT_EQ(waiting.begin()->second["url"], Json(server.url("/rsvp/yes")));

  server.script("/rsvp/yes", https_test_server::Reply());
  server.release();
  ASSERT_TRUE(wait_until([&] { return requests_for("/rsvp/yes") == 2 && saved().empty(); }));
  EXPECT_EQ(fetched_urls(), (std::vector<std::string>{server.url("/rsvp/yes"), server.url("/rsvp/yes")}));
}

TEST_F(ApiRsvpTest, OnlyWebAddressesAreFetched) {
  for (const char* url :
       {"file:///etc/passwd", "FILE:///etc/hosts", "ftp://localhost/rsvp", "data:,yes", ""}) {
    api_->respond_to_rsvp_at_url("E1", url);
  }
  // Answers are handled in order on the core thread and fetched in order by the workers.
  api_->respond_to_rsvp_at_url("E2", server.url("/rsvp/maybe"));
  ASSERT_TRUE(wait_until([&] { return requests_for("/rsvp/maybe") == 1 && saved().empty(); }));
  EXPECT_EQ(fetched_urls(), (std::vector<std::string>{server.url("/rsvp/maybe")}));
}

}  // namespace
}  // namespace kestrun_test
