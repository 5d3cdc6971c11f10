// Two devices of one user against the local sync server: device A is the real server client with
// its outgoing queue, device B a plain connection of the same user that hears what the server
// pushes. Every object request of A leaves with its params, stays queued through an "H1" refusal
// without uploading the trace, and is applied and acknowledged when the queue is written again,
// reaching B as the server's document; a save queued without a write survives a restart; an
// archive-all cut off before its reply is applied once.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/accounts/harnvik_credentials.h"
#include "core/foundation/json_conversion.h"
#include "core/sync/kestrun_object_server_client.h"
#include "server_account_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::ArchiveAllType;
using libkestrun::EmailSendType;
using libkestrun::internal::kestrun_object_server_client_archive_all;
using libkestrun::internal::kestrun_object_server_client_delete_list;
using libkestrun::internal::kestrun_object_server_client_flag_email;
using libkestrun::internal::kestrun_object_server_client_purge_all_trash;
using libkestrun::internal::kestrun_object_server_client_save_email;
using libkestrun::internal::kestrun_object_server_client_save_item;
using libkestrun::internal::kestrun_object_server_client_save_list;
using libkestrun::internal::kestrun_object_server_client_update_email;
using libkestrun::internal::kestrun_object_server_client_update_item;
using libkestrun::internal::kestrun_object_server_client_update_list;

constexpr char kUid[] = "maya-lind";
constexpr int64_t kFuture = 4102444800000;  // 2100: every object was made before

class TwoDevicesTest : public ServerAccountTest {
 protected:
  TwoDevicesTest() {
    // The trace's one upload holds a task of its own task manager while it runs: whether one was
    // asked for shows there.
    libkestrun::sanity::initialize(uploads_, dir_.file(""), "https://localhost:1/sanity/dump");
  }

  // Device B adds the sample account; device A, the client under test, is a second device of the
  // same user associated with it and has synced it.
  void two_devices_synced() {
    start_server();
    device_b_ = std::make_unique<sync_server_test::SyncClient>(server_->port());
    ASSERT_TRUE(device_b_->wait_connected());
    device_b_->authenticate(new_device(*device_b_));
    const Json added = device_b_->request(
        "ACCOUNT_CREATE", Json::object{{"credentials", Json::object{{"password", "sample-com-password"}}},
                                       {"data", "maya.lind@example.com"},
                                       {"locale", "en"},
                                       {"type", 1}});
    ASSERT_TRUE(added["error"].is_null()) << added.dump();

    sync_server_test::SyncClient raw(server_->port());
    ASSERT_TRUE(raw.wait_connected());
    state_ = new_device(raw);
    raw.authenticate(state_);
    const Json associated = raw.request("ACCOUNT_ASSOCIATE", Json::object{{"account_id", kSampleAccount}});
    ASSERT_TRUE(associated["error"].is_null()) << associated.dump();
    libkestrun::JsonKvStore(store_).set_json(libkestrun::kUserDocKey,
                                             Json::object{{"user_id", state_["user_id"]},
                                                          {"device_id", state_["device_id"]},
                                                          {"device_secret", state_["device_secret"]}});
    // A signed-in user connects with the credentials of its sign-in.
    run_on(thread_, [&] {
      users_->useHarnvikCredentials(
          std::make_shared<libkestrun::HarnvikCredentialsOAuth1>(2, kUid, "token", "token-secret"));
    });
    add_sample_account();
    make_client();
    connect();
    ASSERT_TRUE(wait_posted("com.kestrun.sync.intial.sync.completed"));
  }

  static Json new_device(sync_server_test::SyncClient& raw) {
    return raw.request("USER_NEW_DEVICE",
                       Json::object{{"name", "test mac"},
                                    {"type", "macos"},
                                    {"vendor_id", "V1"},
                                    {"harnvik_credentials", Json::object{{"uid", kUid}}}})["result"];
  }

  // The messages after `label` in the protocol trace, in order; a frame of several (the queue
  // writes its requests as one array) gives each of them.
  std::vector<Json> traced(const std::string& label) {
    std::vector<Json> found;
    std::istringstream in(trace());
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find(label);
      if (at == std::string::npos) continue;
      std::string error;
      const Json frame = Json::parse(line.substr(at + label.size()), error);
      for (const Json& message : frame.is_array() ? frame.array_items() : Json::array{frame})
        found.push_back(message);
    }
    return found;
  }
  // The requests of `method` A has written so far.
  std::vector<Json> written(const std::string& method) {
    std::vector<Json> found;
    for (const Json& message : traced("Sending message: "))
      if (message["method"] == Json(method)) found.push_back(message);
    return found;
  }
  // The server's answers to the request `id` so far.
  std::vector<Json> answers(const std::string& id) {
    std::vector<Json> found;
    for (const Json& message : traced("Received message: "))
      if (message["id"] == Json(id)) found.push_back(message);
    return found;
  }

  // The stored outgoing queue holds the request `id`: under its object (a document request) or
  // among the account-wide requests.
  bool queued(const std::string& id) {
    libkestrun::Defaults stored(store_);
    if (stored.get_json("offline.manager.queued.message.ids")[id].is_string()) return true;
    const Json account_wide = stored.get_json("offline.manager.queued.account.requests");
    for (const Json& request : account_wide.array_items())
      if (request["id"] == Json(id)) return true;
    return false;
  }

  // Writes a queued request again as a new connection does: by its object, or with the
  // account-wide requests.
  void write_again(const Json& request) {
    run_on(thread_, [&] {
      const Json& doc_id = request["params"]["doc"]["_id"];
      if (doc_id.is_string()) {
        offline_->sendRequestsForIds({doc_id.string_value()});
      } else {
        client_->send_json(Json(offline_->getQueuedRequests()));
      }
    });
  }

  // The documents of `doc_type` the server has pushed to B so far.
  std::vector<Json> pushed_to_b(const std::string& doc_type) {
    std::vector<Json> docs;
    for (const Json& message : device_b_->messages())
      if (message["method"] == Json("DOCUMENT") && message["params"]["doc_type"] == Json(doc_type))
        docs.push_back(message["params"]["doc"]);
    return docs;
  }
  // Returns once every push the server sent B before now has arrived: B's connection is ordered.
  void b_caught_up() {
    const Json reply = device_b_->request(
        "USER_SNAPSHOT",
        Json::object{{"sync_state", Json::object{{"user_item", Json::object{{"since", 0}}}}}});
    ASSERT_FALSE(reply.is_null());
  }

  std::shared_ptr<libkestrun::LoggingTaskManager> uploads_ =
      std::make_shared<libkestrun::LoggingTaskManager>();
  std::unique_ptr<sync_server_test::SyncClient> device_b_;
};

patch::JanssonPtr jansson(const Json& value) { return patch::JanssonPtr(patch::jansson_from_json(value)); }

TEST_F(TwoDevicesTest, EachObjectRequestIsQueuedThroughARefusalAndReachesTheOtherDevice) {
  ASSERT_NO_FATAL_FAILURE(two_devices_synced());
  const Json server = server_documents();
  Json inbox_item, email;
  for (const Json& item : server["docs"]["item"].array_items())
    if (inbox_item.is_null() && item["state"] == Json(2)) inbox_item = item;
  ASSERT_FALSE(inbox_item.is_null());
  ASSERT_FALSE(server["docs"]["email"].array_items().empty());
  email = server["docs"]["email"][0];
  const std::string item_id = inbox_item["_id"].string_value();
  const std::string email_id = email["_id"].string_value();
  const bool was_read = email["read"].bool_value();
  const double tz = static_cast<double>(run_on(thread_, [&] { return prefs_->getTimeZoneOffset(); }));

  const Json new_item = Json::object{
      {"_id", "ITEM-NEW"}, {"acct_id", kSampleAccount}, {"type", 1}, {"state", 2}, {"created_at", 1000}};
  const Json reply_doc = Json::object{{"_id", "EMAIL-REPLY"},
                                      {"acct_id", kSampleAccount},
                                      {"p_id", "ITEM-NEW"},
                                      {"to", Json::array{Json::object{{"address", "ola@example.biz"}}}}};
  const Json new_doc = Json::object{{"_id", "EMAIL-NEW"}, {"acct_id", kSampleAccount}, {"p_id", "ITEM-NEW"}};
  const Json new_list = Json::object{{"_id", "LIST-NEW"}, {"acct_id", kSampleAccount}, {"name", "Later"}};

  struct Case {
    const char* name;
    const char* method;
    std::function<void()> call;  // on the core thread
    Json params;                 // what leaves, before the trace's redaction
    const char* doc_type;        // what B hears; null: nothing to hear
    std::string doc_id;
    std::function<bool(const Json& doc)> pushed;
  };
  const Case cases[] = {
      {"a new conversation", "ITEM_SAVE",
       [&] { kestrun_object_server_client_save_item(jansson(new_item).get(), true); },
       Json::object{{"doc", new_item}}, "item", "ITEM-NEW",
       [](const Json& doc) { return doc["state"] == Json(2); }},
      {"an item change without its creation time and type", "ITEM_UPDATE",
       [&] {
         kestrun_object_server_client_update_item(
             jansson(Json::object{{"_id", item_id},
                                  {"acct_id", kSampleAccount},
                                  {"type", 9},
                                  {"created_at", 5},
                                  {"state", 4}})
                 .get(),
             jansson(Json::object{{"meta", Json::object{{"reason", 1}}}}).get(), true);
       },
       Json::object{{"doc", Json::object{{"_id", item_id}, {"acct_id", kSampleAccount}, {"state", 4}}},
                    {"meta", Json::object{{"reason", 1}}}},
       "item", item_id,
       [&](const Json& doc) {
         return doc["state"] == Json(4) && doc["created_at"] == inbox_item["created_at"] &&
                doc["type"] == inbox_item["type"];
       }},
      {"the trash purged", "PURGE_ALL_TRASH",
       [&] { kestrun_object_server_client_purge_all_trash(kSampleAccount, kFuture, true); },
       Json::object{{"account_id", kSampleAccount}, {"from_date", static_cast<double>(kFuture)}}, "item",
       item_id, [](const Json& doc) { return doc["state"] == Json(6); }},
      {"archive all unstarred from the first millisecond", "ARCHIVE_ALL",
       [&] { kestrun_object_server_client_archive_all(kSampleAccount, 1, ArchiveAllType::Unstarred, true); },
       Json::object{{"account_id", kSampleAccount}, {"from_date", 1}, {"type", 3}}, nullptr, "", nullptr},
      {"archive the whole inbox", "ARCHIVE_ALL",
       [&] {
         kestrun_object_server_client_archive_all(kSampleAccount, kFuture, ArchiveAllType::AllInbox, true);
       },
       Json::object{{"account_id", kSampleAccount}, {"from_date", static_cast<double>(kFuture)}, {"type", 1}},
       "item", "ITEM-NEW", [](const Json& doc) { return doc["state"] == Json(3); }},
      {"a reply with both references, one not JSON", "EMAIL_SAVE",
       [&] {
         kestrun_object_server_client_save_email(jansson(reply_doc).get(), EmailSendType::Reply, "R1",
                                                 "{oops", true, true);
       },
       Json::object{{"doc", reply_doc},
                    {"type", 1},
                    {"full_body", true},
                    {"tz", tz},
                    {"ref_email", "R1"},
                    {"ref_sync_data", nullptr}},
       "email", "EMAIL-REPLY", [](const Json& doc) { return doc["sent"] == Json(true); }},
      {"a new message without references", "EMAIL_SAVE",
       [&] {
         kestrun_object_server_client_save_email(jansson(new_doc).get(), EmailSendType::NewMessage,
                                                 std::nullopt, "-", false, true);
       },
       Json::object{{"doc", new_doc}, {"type", 3}, {"full_body", false}, {"tz", tz}}, "email", "EMAIL-NEW",
       [](const Json& doc) { return doc["sent"] == Json(true); }},
      {"an e-mail change of its six keys only", "EMAIL_UPDATE",
       [&] {
         kestrun_object_server_client_update_email(jansson(Json::object{{"_id", email_id},
                                                                        {"acct_id", kSampleAccount},
                                                                        {"read", !was_read},
                                                                        {"subject", "Changed"}})
                                                       .get(),
                                                   true);
       },
       Json::object{
           {"doc", Json::object{{"_id", email_id}, {"acct_id", kSampleAccount}, {"read", !was_read}}}},
       "email", email_id,
       [&](const Json& doc) { return doc["read"] == Json(!was_read) && doc["subject"] == email["subject"]; }},
      {"a flag without a reason", "EMAIL_FLAG",
       [&] { kestrun_object_server_client_flag_email(email_id, kSampleAccount, ""); },
       Json::object{{"email_id", email_id}, {"account_id", kSampleAccount}}, "email", email_id,
       [](const Json& doc) { return doc["flagged"] == Json("flagged"); }},
      {"a new list", "LIST_SAVE",
       [&] { kestrun_object_server_client_save_list(jansson(new_list).get(), true); },
       Json::object{{"doc", new_list}}, "list", "LIST-NEW",
       [](const Json& doc) { return doc["name"] == Json("Later"); }},
      {"the list renamed", "LIST_UPDATE",
       [&] { kestrun_object_server_client_update_list("LIST-NEW", "Later", "Soon", kSampleAccount, true); },
       Json::object{{"doc", Json::object{{"_id", "LIST-NEW"}, {"name", "Soon"}, {"acct_id", kSampleAccount}}},
                    {"prev_name", "Later"}},
       "list", "LIST-NEW", [](const Json& doc) { return doc["name"] == Json("Soon"); }},
      {"the list deleted", "LIST_DELETE",
       [&] { kestrun_object_server_client_delete_list("LIST-NEW", "Soon", kSampleAccount, true); },
       Json::object{
           {"doc", Json::object{{"_id", "LIST-NEW"}, {"acct_id", kSampleAccount}, {"name", "Soon"}}}},
       "list", "LIST-NEW", [](const Json& doc) { return doc["_deleted"] == Json(true); }},
  };
  for (const Case& c : cases) {
    // Refused with "H1": the request stays queued.
    server_->fail_next(c.method, 1, "H1");
    const size_t before = written(c.method).size();
    run_on(thread_, c.call);
    ASSERT_TRUE(wait_until([&] { return written(c.method).size() > before; })) << c.name;
    const Json request = written(c.method)[before];
    EXPECT_EQ(request["params"], libkestrun::sanity::redact(c.params)) << c.name;
    const std::string id = request["id"].string_value();
    ASSERT_TRUE(wait_until([&] {
      const std::vector<Json> got = answers(id);
      return !got.empty() && got[0]["error"]["code"] == Json("H1");
    })) << c.name;
    drain();
    EXPECT_TRUE(queued(id)) << c.name;

    // Written again, it is applied and acknowledged, and B hears the result.
    write_again(request);
    ASSERT_TRUE(wait_until([&] { return !queued(id); })) << c.name;
    EXPECT_TRUE(replied(id)) << c.name;
    if (!c.doc_type) continue;
    const Json doc = device_b_->wait_for_notification("DOCUMENT", [&](const Json& params) {
      return params["doc_type"] == Json(c.doc_type) && params["doc"]["_id"] == Json(c.doc_id) &&
             c.pushed(params["doc"]);
    });
    EXPECT_FALSE(doc.is_null()) << c.name;
    // A's own copy of the result comes back as well, possibly while the next change of the same
    // object is refused: that copy of an older version leaves the change queued (the list renamed,
    // then deleted).
  }
  EXPECT_FALSE(uploads_->has_tasks()) << "no trace upload for \"H1\"";

  // Any other error code uploads the trace.
  server_->fail_next("EMAIL_FLAG", 1, "S1");
  run_on(thread_, [&] { kestrun_object_server_client_flag_email(email_id, kSampleAccount, "spam"); });
  ASSERT_TRUE(wait_until([&] {
    const std::vector<Json> flags = written("EMAIL_FLAG");
    return !flags.empty() && flags.back()["params"]["reason"] == Json("spam") &&
           !answers(flags.back()["id"].string_value()).empty();
  }));
  drain();
  EXPECT_TRUE(uploads_->has_tasks());
}

TEST_F(TwoDevicesTest, ASaveWithoutAWriteWaitsInTheQueueThroughARestart) {
  ASSERT_NO_FATAL_FAILURE(two_devices_synced());
  const Json doc = Json::object{{"_id", "ITEM-LATER"}, {"acct_id", kSampleAccount}, {"state", 2}};
  run_on(thread_, [&] { kestrun_object_server_client_save_item(jansson(doc).get(), false); });
  // A request written after it is answered; frames go out in order.
  connect_authenticated();
  for (const Json& request : written("ITEM_SAVE")) EXPECT_NE(request["params"]["doc"]["_id"], doc["_id"]);
  auto stored_request = [&] {
    return libkestrun::Defaults(store_).get_json("offline.manager.queued.requests")["ITEM-LATER"];
  };
  ASSERT_TRUE(stored_request().is_object());

  // A new start on the same store: a new outgoing queue and a new server client.
  disconnect();
  client_.reset();
  drain();
  offline_ = std::make_shared<libkestrun::OfflineManager>(libkestrun::OfflineManager::kConnectionWifi,
                                                          std::make_shared<libkestrun::Defaults>(store_),
                                                          tasks_, status_.get());
  libkestrun::offline_manager_set_instance(offline_);
  EXPECT_EQ(stored_request()["params"]["doc"], doc);
  make_client();
  connect_authenticated();
  write_again(stored_request());
  EXPECT_FALSE(
      device_b_
          ->wait_for_notification(
              "DOCUMENT", [](const Json& params) { return params["doc"]["_id"] == Json("ITEM-LATER"); })
          .is_null());
  EXPECT_TRUE(wait_until([&] { return stored_request().is_null(); })) << "acknowledged";
}

TEST_F(TwoDevicesTest, AnArchiveAllCutOffBeforeItsReplyIsAppliedOnceWhenWrittenAgain) {
  ASSERT_NO_FATAL_FAILURE(two_devices_synced());
  std::vector<std::string> inbox;
  const Json before = server_documents();
  for (const Json& item : before["docs"]["item"].array_items())
    if (item["state"] == Json(2)) inbox.push_back(item["_id"].string_value());
  ASSERT_FALSE(inbox.empty());

  server_->drop_next("ARCHIVE_ALL", 1);
  run_on(thread_, [&] {
    kestrun_object_server_client_archive_all(kSampleAccount, kFuture, ArchiveAllType::AllInbox, true);
  });
  // Frames are served in order: once a later request is answered, the archive-all was dropped.
  connect_authenticated();
  ASSERT_EQ(written("ARCHIVE_ALL").size(), 1u);
  const std::string id = written("ARCHIVE_ALL")[0]["id"].string_value();
  disconnect();
  EXPECT_TRUE(queued(id));

  // The queue written twice after reconnecting, as by two connections before any answer: the
  // server applies it once and answers both.
  connect_authenticated();
  run_on(thread_, [&] {
    const Json queue(offline_->getQueuedRequests());
    client_->send_json(queue);
    client_->send_json(queue);
  });
  ASSERT_TRUE(wait_until([&] { return answers(id).size() == 2; }));
  for (const Json& answer : answers(id)) {
    EXPECT_TRUE(answer["error"].is_null()) << answer.dump();
    EXPECT_EQ(answer["result"]["count"], Json(static_cast<int>(inbox.size())))
        << "the first application's answer";
  }
  EXPECT_TRUE(wait_until([&] { return !queued(id); }));
  ASSERT_NO_FATAL_FAILURE(b_caught_up());
  std::map<std::string, int> archived;
  for (const Json& doc : pushed_to_b("item"))
    if (doc["state"] == Json(3) && doc["prev_state"] == Json(2)) ++archived[doc["_id"].string_value()];
  for (const std::string& item : inbox) EXPECT_EQ(archived[item], 1) << item;
  EXPECT_EQ(archived.size(), inbox.size());
  const Json after = server_documents();
  for (const Json& item : after["docs"]["item"].array_items())
    EXPECT_NE(item["state"], Json(2)) << item["_id"].string_value();
}

}  // namespace
}  // namespace kestrun_test
