// Local changes through the facade: archiving end to end against the local sync server (the live
// query, the completion, the server's acknowledgement), and the operations that do more than
// forward (chained list operations, emptying the trash from the store) or fix a value.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "api_store_rows.h"
#include "core/accounts/user_manager_impl.h"
#include "core/api/api.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/model/ks_email_account.h"
#include "core/sync/server_client.h"
#include "tests/tools/sync_server/sample_device.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::ItemGestureContextType;

class ApiChangesTest : public ApiTest {
 protected:
  ApiChangesTest() { start(); }
};

TEST_F(ApiChangesTest, EmptyingTheTrashFromTheStoreErasesWhatItHolds) {
  store_rows({conversation("t1", ItemState::Trash, 1), conversation("t2", ItemState::Trash, 2),
              conversation("kept", ItemState::Inbox, 3)});
  perform_change([&](auto done) { api_->full_delete_all_trash_items(done); });
  EXPECT_EQ(api_->item_with_id("t1")->state(), ItemState::Deleted);
  EXPECT_EQ(api_->item_with_id("t2")->state(), ItemState::Deleted);
  EXPECT_EQ(api_->item_with_id("kept")->state(), ItemState::Inbox);
  // An empty trash still reaches the data writer, whose completion runs.
  EXPECT_TRUE(perform_change([&](auto done) { api_->full_delete_all_trash_items(done); }).empty());
}

TEST_F(ApiChangesTest, DeferringUntilADateRecordsNoSnoozeChoice) {
  store_rows({conversation("a", ItemState::Inbox, 1)}, {message("a-mail", "a", 1)});
  const int64_t when = 4102444800000;
  perform_change([&](auto done) { api_->defer_item_until_date("a", when, done, true); });
  auto item = api_->item_with_id("a");
  EXPECT_EQ(item->state(), ItemState::Later);
  EXPECT_EQ(item->snoozeType(), libkestrun::SnoozeType::None);
  EXPECT_EQ(item->remindAt(), when);
}

TEST_F(ApiChangesTest, UnreadingAConversationMarksItsLastReadEmailOnce) {
  store_rows({conversation("a", ItemState::Inbox, 1)}, {message("first", "a", 1), message("last", "a", 2)});
  EXPECT_EQ(perform_change([&](auto done) { api_->unread_item("a", done); }), Ids{"last"});
  EXPECT_FALSE(api_->email_with_id("last")->get_READ());
  EXPECT_TRUE(perform_change([&](auto done) { api_->unread_item("a", done); }).empty()) << "already unread";
}

// The second task runs from the list task's completion; a name already in use files into the
// existing list, and the completion reports the filing, not the list.
TEST_F(ApiChangesTest, CreatingAListAndFilingIntoIt) {
  store_rows({conversation("a", ItemState::Inbox, 1), conversation("b", ItemState::Inbox, 2),
              conversation("c", ItemState::Inbox, 3)},
             {message("a-mail", "a", 1), message("b-mail", "b", 2), message("c-mail", "c", 3)});
  auto listed = std::make_shared<QueryRecorder>();
  api_->perform_query_items("trips", ItemGestureContextType::List, 0, "list_Trips", "", listed);

  Ids first = perform_change([&](auto done) { api_->create_list_and_associate_item("Trips", "a", done); });
  Ids again = perform_change([&](auto done) {
    api_->create_list_and_associate_items("Trips", {"b", "c"}, done);
  });
  for (const Ids& ids : {first, again}) {
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "list_Trips"), 0) << "the list's id is not the filing's";
  }
  Ids filed = listed->rows();
  std::sort(filed.begin(), filed.end());
  EXPECT_EQ(filed, (Ids{"a", "b", "c"}));
  std::vector<std::shared_ptr<KSList>> lists = api_->get_all_lists();
  ASSERT_EQ(lists.size(), 1u) << "one list of that name";
  EXPECT_EQ(lists[0]->listID(), "list_Trips");
}

// The whole road of a triage: the server's sample account synced into a keyed store, one
// conversation archived through the facade, the change on the server and its acknowledgement.
class ApiArchiveTest : public ApiServerTest {
 protected:
  static constexpr char kSampleAccount[] = "acct-example-com";

  // A device registered with the server and holding the sample account, as an earlier run of the
  // application leaves it in the key-value store.
  void register_with_sample_account() {
    sync_server_test::register_with_sample_account(server_->port(), kSampleAccount, store_);
    KSEmailAccount account;
    account.accountID = kSampleAccount;
    account.emailAddress = "maya.lind@example.com";
    account.emailType = libkestrun::EmailAccountType::Gmail;
    account.authenticated = true;
    account.isPrimary = true;
    account.isDefault = true;
    libkestrun::JsonKvStore(store_).set_json("pellavine.account.manager.accounts.set",
                                             Json(Json::array{account.to_json()}));
  }

  std::shared_ptr<libkestrun::KvStore> store_ = std::make_shared<libkestrun::LeveldbStore>(dir_.file("kv"));
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
};

TEST_F(ApiArchiveTest, ArchivingReachesTheQueryTheCallerAndTheServer) {
  register_with_sample_account();
  libkestrun::Overrides overrides;
  overrides.kv_store = store_;
  overrides.task_manager = tasks_;
  start(server_config(), overrides);
  NotificationWaiter synced("com.kestrun.sync.intial.sync.completed");
  on_core([] { libkestrun::internal::server_client_connect(); });
  ASSERT_TRUE(synced.wait());

  auto inbox = std::make_shared<QueryRecorder>();
  api_->perform_query_items("inbox", ItemGestureContextType::Inbox, 50, "", "", inbox);
  ASSERT_FALSE(inbox->rows().empty()) << "the sample account's inbox";
  const std::string id = inbox->rows().front();

  EXPECT_EQ(perform_change([&](auto done) { api_->archive_item(id, done); }), Ids{id});
  // The update is queued until the server answers it; each queued request holds a task.
  auto queued = [&] {
    std::optional<Json> stored = libkestrun::JsonKvStore(store_).get_json("offline.manager.queued.requests");
    return stored && stored->dump().find(id) != std::string::npos;
  };
  ASSERT_TRUE(wait_until([&] { return trace().find("ITEM_UPDATE") != std::string::npos; }));
  ASSERT_TRUE(wait_until([&] { return !queued() && !tasks_->has_tasks(); }))
      << "the server's acknowledgement empties the queue";
  EXPECT_NE(trace().find(id), std::string::npos);
  EXPECT_EQ(inbox->changes(), Ids{"delete:" + id}) << "one change, also after the server's answer";
  EXPECT_EQ(api_->item_with_id(id)->state(), ItemState::Archive);
}

}  // namespace
}  // namespace kestrun_test
