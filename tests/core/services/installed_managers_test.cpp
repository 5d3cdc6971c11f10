// The real managers installed behind their process-wide forwarders over one LevelDB store, driven
// the way the data model, the data writer and the synchronisation code drive them.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/list_ordering_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/services/undo_manager.h"
#include "core/sync/server_client.h"
#include "localization/localization.h"
#include "services_fixtures.h"
#include "support/fake_server_client.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::Posted;
using namespace libkestrun;

class InstalledManagersTest : public ::testing::Test {
 protected:
  InstalledManagersTest() {
    Localization::instance().set_current_locale("en");
    internal::server_client_set_instance(server_);
    counts_manager_set_instance(counts_);
    sync_status_manager_set_instance(status_);
    offline_manager_set_instance(offline_);
    changes_manager_set_instance(changes_);
    list_ordering_manager_set_instance(lists_);
    undo_manager_set_instance(undo_);
  }
  ~InstalledManagersTest() override {
    counts_manager_set_instance(nullptr);
    sync_status_manager_set_instance(nullptr);
    offline_manager_set_instance(nullptr);
    changes_manager_set_instance(nullptr);
    list_ordering_manager_set_instance(nullptr);
    undo_manager_set_instance(nullptr);
    internal::server_client_set_instance(nullptr);
    Localization::instance().set_current_locale("");
  }

  kestrun_test::StoreDir dir_;
  kestrun_test::PostRecorder posts_;
  std::shared_ptr<kestrun_test::FakeServerClient> server_ =
      std::make_shared<kestrun_test::FakeServerClient>();
  std::shared_ptr<CountsManager> counts_ = std::make_shared<CountsManager>(posts_.center(), dir_.store());
  std::shared_ptr<SyncStatusManager> status_ =
      std::make_shared<SyncStatusManager>(posts_.center(), dir_.store());
  std::shared_ptr<OfflineManager> offline_ = std::make_shared<OfflineManager>(
      OfflineManager::kConnectionWifi, std::make_shared<Defaults>(dir_.store()),
      std::make_shared<LoggingTaskManager>(), status_.get());
  std::shared_ptr<ChangesManager> changes_ = std::make_shared<ChangesManager>(dir_.store());
  std::shared_ptr<ListOrderingManager> lists_ = std::make_shared<ListOrderingManager>(dir_.store());
  std::shared_ptr<UndoManager> undo_ = std::make_shared<kestrun_test::RecordingUndoManager>(posts_.center());
};

TEST_F(InstalledManagersTest, CountsThroughTheirForwarders) {
  counts_manager_set_active_count("A", 1234, false);
  counts_manager_set_active_count("B", 15, true);
  counts_manager_set_completed_count("B", 2, true);
  counts_manager_set_deleted_count("B", 101, false);
  counts_manager_set_sent_count("B", 7, true);
  EXPECT_EQ(counts_manager_total_active_count(), 1249);
  EXPECT_EQ(counts_manager_total_significant_active_count(), 1200);
  EXPECT_EQ(counts_manager_accumulate_active_count_for_all_accounts(), 1215);
  EXPECT_FALSE(counts_manager_active_is_exact());
  EXPECT_EQ(counts_manager_total_significant_deleted_count(), 100);
  EXPECT_FALSE(counts_manager_deleted_is_exact());
  EXPECT_TRUE(counts_manager_sent_is_exact());
  EXPECT_EQ(counts_manager_total_sent_count(), 7);
  EXPECT_EQ(counts_manager_total_significant_sent_count(), 7);

  // An archive by the data writer, then an archive-all of one account and of every account.
  counts_manager_update_counts_for_state_change(ItemState::Inbox, ItemState::Archive, "B");
  EXPECT_EQ(counts_manager_active_count_for_account("B"), 14);
  EXPECT_EQ(counts_manager_total_completed_count(), 3);
  EXPECT_EQ(counts_manager_total_significant_completed_count(), 3);
  EXPECT_TRUE(counts_manager_completed_is_exact());
  counts_manager_reset_active_count_for_account("A");
  EXPECT_TRUE(counts_manager_active_is_exact_for_account("A"));
  EXPECT_EQ(counts_manager_total_significant_active_count_for_account("B"), 14);
  counts_manager_clear_active_counts();
  EXPECT_EQ(counts_manager_total_active_count(), 0);
  EXPECT_TRUE(counts_manager_active_is_exact());

  counts_->updateListCounts("B", Json::array{Json::object{{"name", "Work"}, {"count", 995}}});
  EXPECT_EQ(counts_manager_total_list_count_for_list("Work"), 995);
  EXPECT_EQ(counts_manager_total_significant_list_count_for_list("Work"), 1000);
  EXPECT_FALSE(counts_manager_list_is_exact_for_list("Work"));
  counts_manager_remove_counts_for_account("B");
  EXPECT_TRUE(counts_manager_list_is_exact_for_list("Work"));
  EXPECT_EQ(counts_manager_total_deleted_count(), 0);
  EXPECT_EQ(posts_.take().size(), 9u);  // each change but the list counts posts once
}

TEST_F(InstalledManagersTest, AnEmailSendFromQueueToAcknowledgement) {
  sync_status_manager_started_sending_message();
  const Json save =
      Json::object{{"method", "EMAIL_SAVE"},
                   {"id", "r1"},
                   {"params", Json::object{{"doc", Json::object{{"_id", "E1"}, {"acct_id", "A"}}}}}};
  EXPECT_TRUE(offline_manager_handles_method("EMAIL_SAVE"));
  offline_manager_add_request(save);
  offline_manager_send_requests_for_ids({"E1"});
  server_->connected = true;
  offline_manager_send_requests_for_account("A");
  offline_manager_acknowledge_request("r1");
  EXPECT_EQ(server_->calls(), (std::vector<Call>{{"send_json", Json::array{Json::array{save}}},
                                                 {"is_connected", Json::array{}},
                                                 {"send_json", Json::array{Json::array{save}}}}));
  const Posted sending{"com.kestrun.sync.sending.messages", Json::object{{"primaryCount", 1}}};
  EXPECT_EQ(posts_.take(),
            (std::vector<Posted>{
                sending, sending, {"com.kestrun.sync.sent.messages", Json::object{{"primaryCount", 1}}}}));

  // A saved document of the model removes what is left; an account removal and a clear empty it.
  offline_manager_add_request(save);
  offline_manager_remove_request("E1");
  offline_manager_add_request(save);
  offline_manager_remove_requests_for_account("A");
  offline_manager_add_request(save);
  offline_manager_clear();
  EXPECT_EQ(dir_.stored("offline.manager.queued.requests"), "absent");
  EXPECT_EQ(offline_manager_get_connection_type(), OfflineManager::kConnectionWifi);
  EXPECT_TRUE(offline_manager_is_connected());
  EXPECT_TRUE(offline_manager_is_connected_via_wifi());
  EXPECT_FALSE(offline_manager_is_connected_via_cellular());
  offline_manager_reset_connection_type();
  EXPECT_FALSE(offline_manager_is_connected());
}

TEST_F(InstalledManagersTest, TheModelsSavedDocumentEndsTheQueuedSave) {
  sync_status_manager_started_sending_message();
  offline_manager_add_request(Json::object{{"method", "EMAIL_SAVE"},
                                           {"id", "r1"},
                                           {"params", Json::object{{"doc", Json::object{{"_id", "E1"}}}}}});
  MemoryContext context;
  KSEmail email(&context);
  json_t* unsaved = json_pack("{s:s}", "_id", "E1");
  email.acknowledgeServerSave(unsaved);  // no saved time: the request stays
  json_decref(unsaved);
  EXPECT_NE(dir_.stored("offline.manager.queued.requests"), "absent");

  json_t* saved = json_pack("{s:s, s:i}", "_id", "E1", "saved_at", 5);
  email.acknowledgeServerSave(saved);
  json_decref(saved);
  EXPECT_EQ(dir_.stored("offline.manager.queued.requests"), "absent");
  EXPECT_EQ(posts_.take(),
            (std::vector<Posted>{{"com.kestrun.sync.sending.messages", Json::object{{"primaryCount", 1}}},
                                 {"com.kestrun.sync.sent.messages", Json::object{{"primaryCount", 1}}}}));
}

TEST_F(InstalledManagersTest, StatusTokensListsAndUndoThroughTheirForwarders) {
  sync_status_manager_archive_all_started("A");
  EXPECT_TRUE(sync_status_manager_is_archive_all_ongoing());
  sync_status_manager_archive_all_finished("A");
  sync_status_manager_post_status("com.kestrun.sync.archive.all.ongoing", 0, 0);
  sync_status_manager_post_generic_message("Hi");
  sync_status_manager_reset();
  EXPECT_EQ(sync_status_manager_update_new_email_timestamp_threshold(1000), 1000);
  EXPECT_FALSE(sync_status_manager_is_new_email_timestamp(999));
  EXPECT_EQ(posts_.take().size(), 4u);

  changes_manager_set_tokens("A", 17, std::nullopt, 4);
  EXPECT_EQ(changes_->getTokens("A"), (Tokens{17, 0, 4}));
  changes_manager_clear();
  EXPECT_EQ(changes_->getTokens("A"), (Tokens{0, 0, 0}));

  EXPECT_EQ(list_ordering_manager_get_order_key("Work"), 0);
  list_ordering_manager_set_order_key("Home", 10);
  list_ordering_manager_rename_list("Work", "Job");
  list_ordering_manager_remove_list("Home");
  EXPECT_EQ(dir_.stored("list.ordering.manager.mapping.key"), R"({"Job":0})");

  MemoryContext context;
  internal::Item row;
  row.set_ITEMID("I1");
  row.set_STATE(ItemState::Inbox);
  undo_manager_lock();
  undo_manager_clear();
  undo_manager_record_action(std::make_shared<KSItem>(&context, row), ItemState::Archive);
  undo_manager_unlock();
  EXPECT_TRUE(undo_manager_has_action_to_undo());
  EXPECT_EQ(undo_manager_alert_message_for_current_state(),
            "Are you sure you want to undo that, and move 1 item from Archive back to Inbox?");
  undo_manager_perform_undo_action();
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{{"com.kestrun.undo.was.committed", nullptr}}));
}

}  // namespace
