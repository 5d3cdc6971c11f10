// The params each object request hands to the server client's send or send_document, and the
// guards that send nothing. The requests on the wire, their queueing and acknowledgement are
// tested against the local sync server (server_client_impl_test.cpp).
#include "core/sync/kestrun_object_server_client_impl.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "support/fake_server_client.h"
#include "support/recording_account_calls.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::ArchiveAllType;
using libkestrun::EmailSendType;
using libkestrun::internal::KestrunObjectServerClientImpl;

struct Doc {
  explicit Doc(const char* text) : value(json_loads(text, 0, nullptr)) {}
  ~Doc() { json_decref(value); }
  json_t* value;
};

class ObjectClientTest : public ::testing::Test {
 protected:
  ObjectClientTest() {
    thread_.post_sync([&] { prefs_->updateFromServer(Json::object{{"tz", 7200000}}); });
  }
  ~ObjectClientTest() override {
    thread_.post_sync([&] { prefs_.reset(); });
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  kestrun_test::RecordingAccountCalls accounts_;
  std::unique_ptr<libkestrun::PrefManager> prefs_ = std::make_unique<libkestrun::PrefManager>(
      &thread_, center_, std::make_shared<libkestrun::MemoryStore>(), &accounts_);
  kestrun_test::FakeServerClient server_;
  KestrunObjectServerClientImpl client_{&server_, prefs_.get()};
};

TEST_F(ObjectClientTest, EachRequestBuildsItsParams) {
  Doc item(R"({"_id": "I1", "acct_id": "A", "type": 1, "created_at": 5, "state": 3})");
  Doc email(R"({"_id": "E1", "acct_id": "A", "p_id": "I1", "read": true, "subject": "s", "starred": false})");
  Doc meta(R"({"meta": {"reason": 1}, "doc": {"_id": "other"}})");
  const Json item_doc =
      Json::object{{"_id", "I1"}, {"acct_id", "A"}, {"type", 1}, {"created_at", 5}, {"state", 3}};
  struct Case {
    const char* name;
    std::function<void()> call;
    Json expected;  // the recorded call's arguments; null: nothing sent
    const char* method;
  };
  const Case cases[] = {
      {"saveItem", [&] { client_.saveItem(item.value, false); },
       Json::array{"ITEM_SAVE", item_doc, nullptr, false}, "send_document"},
      {"updateItem drops created_at and type", [&] { client_.updateItem(item.value, meta.value, true); },
       Json::array{
           "ITEM_UPDATE", Json::object{{"_id", "I1"}, {"acct_id", "A"}, {"state", 3}},
           Json::object{{"meta", Json::object{{"reason", 1}}}, {"doc", Json::object{{"_id", "other"}}}},
           true},
       "send_document"},
      {"updateEmail keeps six keys", [&] { client_.updateEmail(email.value, true); },
       Json::array{
           "EMAIL_UPDATE",
           Json::object{{"_id", "E1"}, {"acct_id", "A"}, {"p_id", "I1"}, {"read", true}, {"starred", false}},
           nullptr, true},
       "send_document"},
      {"saveEmail with both references",
       [&] { client_.saveEmail(email.value, EmailSendType::Reply, "R1", R"({"uid": 4})", true, false); },
       Json::array{"EMAIL_SAVE", kestrun_test::document(email.value),
                   Json::object{{"type", 1},
                                {"full_body", true},
                                {"tz", 7200000},
                                {"ref_email", "R1"},
                                {"ref_sync_data", Json::object{{"uid", 4}}}},
                   false},
       "send_document"},
      {"saveEmail: '-' omits the sync data, an empty ref_email is sent",
       [&] { client_.saveEmail(email.value, EmailSendType::NewMessage, "", "-", false, true); },
       Json::array{"EMAIL_SAVE", kestrun_test::document(email.value),
                   Json::object{{"type", 3}, {"full_body", false}, {"tz", 7200000}, {"ref_email", ""}}, true},
       "send_document"},
      {"saveEmail: sync data that is not JSON goes as null",
       [&] { client_.saveEmail(email.value, EmailSendType::Forward, std::nullopt, "{oops", false, true); },
       Json::array{
           "EMAIL_SAVE", kestrun_test::document(email.value),
           Json::object{{"type", 2}, {"full_body", false}, {"tz", 7200000}, {"ref_sync_data", nullptr}},
           true},
       "send_document"},
      {"saveList of a null document", [&] { client_.saveList(nullptr, true); },
       Json::array{"LIST_SAVE", nullptr, nullptr, true}, "send_document"},
      {"updateList", [&] { client_.updateList("L1", "Old", "New", "A", false); },
       Json::array{"LIST_UPDATE", Json::object{{"_id", "L1"}, {"name", "New"}, {"acct_id", "A"}},
                   Json::object{{"prev_name", "Old"}}, false},
       "send_document"},
      {"deleteList", [&] { client_.deleteList("L1", "New", "A", true); },
       Json::array{"LIST_DELETE", Json::object{{"_id", "L1"}, {"acct_id", "A"}, {"name", "New"}}, nullptr,
                   true},
       "send_document"},
      {"archiveAll", [&] { client_.archiveAll("A", 1, ArchiveAllType::Unstarred); },
       Json::array{"ARCHIVE_ALL", Json::object{{"account_id", "A"}, {"from_date", 1}, {"type", 3}}, "<id>",
                   true},
       "send"},
      {"purgeAllTrash", [&] { client_.purgeAllTrash("A", 9); },
       Json::array{"PURGE_ALL_TRASH", Json::object{{"account_id", "A"}, {"from_date", 9}}, "<id>", true},
       "send"},
      {"flagEmail without a reason", [&] { client_.flagEmail("E1", "A", ""); },
       Json::array{"EMAIL_FLAG", Json::object{{"email_id", "E1"}, {"account_id", "A"}}, "<id>", true},
       "send"},
      {"flagEmail with a reason", [&] { client_.flagEmail("E1", "A", "spam"); },
       Json::array{"EMAIL_FLAG", Json::object{{"email_id", "E1"}, {"account_id", "A"}, {"reason", "spam"}},
                   "<id>", true},
       "send"},
      {"archiveAll of type 0", [&] { client_.archiveAll("A", 1, static_cast<ArchiveAllType>(0)); }, nullptr,
       ""},
      {"archiveAll of type 4", [&] { client_.archiveAll("A", 1, static_cast<ArchiveAllType>(4)); }, nullptr,
       ""},
      {"archiveAll from 0", [&] { client_.archiveAll("A", 0, ArchiveAllType::AllInbox); }, nullptr, ""},
      {"archiveAll without account", [&] { client_.archiveAll("", 1, ArchiveAllType::AllInbox); }, nullptr,
       ""},
      {"purgeAllTrash from 0", [&] { client_.purgeAllTrash("A", 0); }, nullptr, ""},
      {"purgeAllTrash without account", [&] { client_.purgeAllTrash("", 1); }, nullptr, ""},
      {"flagEmail without e-mail", [&] { client_.flagEmail("", "A", "r"); }, nullptr, ""},
      {"flagEmail without account", [&] { client_.flagEmail("E1", "", "r"); }, nullptr, ""},
      {"updateList without previous name", [&] { client_.updateList("L1", "", "New", "A", true); }, nullptr,
       ""},
      {"updateList without id", [&] { client_.updateList("", "Old", "New", "A", true); }, nullptr, ""},
      {"deleteList without name", [&] { client_.deleteList("L1", "", "A", true); }, nullptr, ""},
      {"deleteList without account", [&] { client_.deleteList("L1", "New", "", true); }, nullptr, ""},
  };
  const std::regex lower_uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (const Case& c : cases) {
    server_.clear();
    c.call();
    std::vector<Call> calls = server_.calls();
    if (c.expected.is_null()) {
      EXPECT_TRUE(calls.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(calls.size(), 1u) << c.name;
    EXPECT_EQ(calls[0].method, c.method) << c.name;
    Json::array args = calls[0].args.array_items();
    if (c.expected[2] == Json("<id>")) {
      EXPECT_TRUE(std::regex_match(args[2].string_value(), lower_uuid)) << c.name << ": " << args[2].dump();
      args[2] = "<id>";
    }
    EXPECT_EQ(Json(args), c.expected) << c.name;
  }
}

}  // namespace
