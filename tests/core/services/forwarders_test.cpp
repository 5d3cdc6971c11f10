// The mail services' forwarders reach the process-wide instances with their arguments and hand back
// their answers; without an instance they do nothing and answer the neutral value.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/services/attachment_manager.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/email_resource_manager.h"
#include "core/services/list_ordering_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/search_data_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/services/undo_manager.h"
#include "support/fake_attachment_manager.h"
#include "support/fake_changes_manager.h"
#include "support/fake_counts_manager.h"
#include "support/fake_email_resource_manager.h"
#include "support/fake_list_ordering_manager.h"
#include "support/fake_offline_manager.h"
#include "support/fake_search_data_manager.h"
#include "support/fake_sync_status_manager.h"
#include "support/fake_undo_manager.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using namespace libkestrun;

void clear_instances() {
  counts_manager_set_instance(nullptr);
  sync_status_manager_set_instance(nullptr);
  undo_manager_set_instance(nullptr);
  changes_manager_set_instance(nullptr);
  list_ordering_manager_set_instance(nullptr);
  offline_manager_set_instance(nullptr);
  search_data_manager_set_instance(nullptr);
  attachment_manager_set_instance(nullptr);
  email_resource_manager_set_instance(nullptr);
}

class ServiceForwardersTest : public ::testing::Test {
 protected:
  void TearDown() override { clear_instances(); }
};

// One forwarder call and the record it must leave on its manager's fake.
struct Case {
  const char* name;
  std::function<void()> call;
  const kestrun_test::CallLog& log;
  Call expected;
};

TEST_F(ServiceForwardersTest, EachForwarderReachesItsManagerWithItsArguments) {
  auto counts = std::make_shared<kestrun_test::FakeCountsManager>();
  auto status = std::make_shared<kestrun_test::FakeSyncStatusManager>();
  auto undo = std::make_shared<kestrun_test::FakeUndoManager>();
  auto changes = std::make_shared<kestrun_test::FakeChangesManager>();
  auto lists = std::make_shared<kestrun_test::FakeListOrderingManager>();
  auto offline = std::make_shared<kestrun_test::FakeOfflineManager>();
  auto search = std::make_shared<kestrun_test::FakeSearchDataManager>();
  auto attachments = std::make_shared<kestrun_test::FakeAttachmentManager>();
  auto resources = std::make_shared<kestrun_test::FakeEmailResourceManager>();
  counts_manager_set_instance(counts);
  sync_status_manager_set_instance(status);
  undo_manager_set_instance(undo);
  changes_manager_set_instance(changes);
  list_ordering_manager_set_instance(lists);
  offline_manager_set_instance(offline);
  search_data_manager_set_instance(search);
  attachment_manager_set_instance(attachments);
  email_resource_manager_set_instance(resources);

  json_t* error = json_pack("{s:s}", "search_id", "S1");
  MemoryContext context;
  auto item = std::make_shared<KSItem>(&context);
  const Case cases[] = {
      {"clear_active_counts",
       [] { counts_manager_clear_active_counts(); },
       *counts,
       {"clearActiveCounts", Json::array{}}},
      {"update_counts_for_state_change",
       [] { counts_manager_update_counts_for_state_change(ItemState::Inbox, ItemState::Archive, "A1"); },
       *counts,
       {"updateCountsForStateChange", Json::array{2, 3, "A1"}}},
      {"reset_active_count_for_account",
       [] { counts_manager_reset_active_count_for_account("A1"); },
       *counts,
       {"resetActiveCountForAccount", Json::array{"A1"}}},
      {"archive_all_started",
       [] { sync_status_manager_archive_all_started("A1"); },
       *status,
       {"archiveAllStarted", Json::array{"A1"}}},
      {"post_status",
       [] { sync_status_manager_post_status("com.kestrun.sync.archive.all.ongoing", 0, 0); },
       *status,
       {"postStatus", Json::array{"com.kestrun.sync.archive.all.ongoing", 0, 0}}},
      {"started_sending_message",
       [] { sync_status_manager_started_sending_message(); },
       *status,
       {"startedSendingMessage", Json::array{}}},
      {"undo lock", [] { undo_manager_lock(); }, *undo, {"lock", Json::array{}}},
      {"undo clear", [] { undo_manager_clear(); }, *undo, {"clear", Json::array{}}},
      {"record_action",
       [&] { undo_manager_record_action(item, ItemState::Trash); },
       *undo,
       {"recordAction", Json::array{4}}},
      {"undo unlock", [] { undo_manager_unlock(); }, *undo, {"unlock", Json::array{}}},
      {"changes clear", [] { changes_manager_clear(); }, *changes, {"clear", Json::array{}}},
      {"set_tokens",
       [] { changes_manager_set_tokens("A1", 7, std::nullopt, 9); },
       *changes,
       {"setTokens", Json::array{"A1", 7, nullptr, 9}}},
      {"remove_list",
       [] { list_ordering_manager_remove_list("Work"); },
       *lists,
       {"removeList", Json::array{"Work"}}},
      {"rename_list",
       [] { list_ordering_manager_rename_list("Work", "Job"); },
       *lists,
       {"renameList", Json::array{"Work", "Job"}}},
      {"set_order_key",
       [] { list_ordering_manager_set_order_key("Job", 5); },
       *lists,
       {"setOrderKey", Json::array{"Job", 5}}},
      {"finished_sending_message",
       [] { sync_status_manager_finished_sending_message(); },
       *status,
       {"finishedSendingMessage", Json::array{}}},
      {"add_request",
       [] {
         offline_manager_add_request(Json::object{{"method", "ITEM_UPDATE"}});
       },
       *offline,
       {"addRequest", Json::array{Json::object{{"method", "ITEM_UPDATE"}}}}},
      {"acknowledge_request",
       [] { offline_manager_acknowledge_request("R1"); },
       *offline,
       {"acknowledgeRequest", Json::array{"R1"}}},
      {"send_requests_for_account",
       [] { offline_manager_send_requests_for_account("A1"); },
       *offline,
       {"sendRequestsForAccount", Json::array{"A1"}}},
      {"remove_requests_for_account",
       [] { offline_manager_remove_requests_for_account("A1"); },
       *offline,
       {"removeRequestsForAccount", Json::array{"A1"}}},
      {"handles_method",
       [] { offline_manager_handles_method("ITEM_SAVE"); },
       *offline,
       {"handlesMethod", Json::array{"ITEM_SAVE"}}},
      {"remove_request",
       [] { offline_manager_remove_request("I1"); },
       *offline,
       {"removeRequest", Json::array{"I1"}}},
      {"send_requests_for_ids",
       [] {
         offline_manager_send_requests_for_ids({"I1", "I2", "I1"});
       },
       *offline,
       {"sendRequestsForIds", Json::array{Json::array{"I1", "I2", "I1"}}}},
      {"finish_search",
       [] { search_data_manager_finish_search("S1"); },
       *search,
       {"finishSearch", Json::array{"S1"}}},
      {"process_fetch_error",
       [&] { search_data_manager_process_fetch_error(error); },
       *search,
       {"processFetchError", Json::array{Json::object{{"search_id", "S1"}}}}},
      {"process_fetch_finished",
       [] { search_data_manager_process_fetch_finished("T1"); },
       *search,
       {"processFetchFinished", Json::array{"T1"}}},
      {"process_query_error",
       [&] { search_data_manager_process_query_error(error); },
       *search,
       {"processQueryError", Json::array{Json::object{{"search_id", "S1"}}}}},
      {"process_query_finished",
       [&] { search_data_manager_process_query_finished(error); },
       *search,
       {"processQueryFinished", Json::array{Json::object{{"search_id", "S1"}}}}},
      {"clear",
       [] { attachment_manager_clear(); },
       *attachments,
       {"clear", Json::array{}}},
      {"add_attachment",
       [] { attachment_manager_add_attachment("/tmp/f", "A1", "E1", "T1", "f.pdf"); },
       *attachments,
       {"addAttachment", Json::array{"/tmp/f", "A1", "E1", "T1", "f.pdf"}}},
      {"attachment_exists",
       [] { attachment_manager_attachment_exists("A1", "E1", "T1", "f.pdf", true); },
       *attachments,
       {"attachmentExists", Json::array{"A1", "E1", "T1", "f.pdf", true}}},
      {"path_for_attachment",
       [] { attachment_manager_path_for_attachment("A1", "E1", "T1"); },
       *attachments,
       {"pathForAttachment", Json::array{"A1", "E1", "T1"}}},
      {"image_attachments_for_email",
       [] { attachment_manager_image_attachments_for_email("A1", "E1"); },
       *attachments,
       {"imageAttachmentsForEmail", Json::array{"A1", "E1"}}},
      {"send_queued_attachments",
       [] { email_resource_manager_send_queued_attachments(); },
       *resources,
       {"sendQueuedAttachments", Json::array{}}},
      {"upload_attachment",
       [] { email_resource_manager_upload_attachment("T1", "/tmp/f", "f.pdf", "E1", "A1", true, nullptr, nullptr); },
       *resources,
       {"uploadAttachment", Json::array{"T1", "/tmp/f", "f.pdf", "E1", "A1", true}}},
      {"remove_attachments_for_email",
       [] { attachment_manager_remove_attachments_for_email("E1", "A1"); },
       *attachments,
       {"removeAttachmentsForEmail", Json::array{"E1", "A1"}}},
      {"remove_attachments_for_account",
       [] { attachment_manager_remove_attachments_for_account("A1"); },
       *attachments,
       {"removeAttachmentsForAccount", Json::array{"A1"}}},
      {"remove_queued_uploads_for_account",
       [] { email_resource_manager_remove_queued_uploads_for_account("A1"); },
       *resources,
       {"removeQueuedUploadsForAccount", Json::array{"A1"}}},
  };
  for (const Case& c : cases) {
    size_t before = c.log.calls().size();
    c.call();
    std::vector<Call> calls = c.log.calls();
    ASSERT_EQ(calls.size(), before + 1) << c.name;
    EXPECT_EQ(calls.back(), c.expected) << c.name;
  }
  json_decref(error);
  EXPECT_EQ(undo->items(), std::vector<std::shared_ptr<KSItem>>{item});
}

TEST_F(ServiceForwardersTest, AnswersComeFromTheInstance) {
  auto status = std::make_shared<kestrun_test::FakeSyncStatusManager>();
  auto lists = std::make_shared<kestrun_test::FakeListOrderingManager>();
  auto search = std::make_shared<kestrun_test::FakeSearchDataManager>();
  auto resources = std::make_shared<kestrun_test::FakeEmailResourceManager>();
  status->new_email_timestamp = true;
  lists->order_key = 12;
  search->current_search_id = "S1";
  resources->no_queued_uploads = true;
  resources->send_now = false;  // the send waits for the uploads
  sync_status_manager_set_instance(status);
  list_ordering_manager_set_instance(lists);
  search_data_manager_set_instance(search);
  email_resource_manager_set_instance(resources);

  EXPECT_TRUE(sync_status_manager_is_new_email_timestamp(1700000000000));
  EXPECT_EQ(list_ordering_manager_get_order_key("Work"), 12);
  EXPECT_EQ(search_data_manager_get_current_search_id(), "S1");
  EXPECT_TRUE(email_resource_manager_has_no_queued_uploads_for_email("E1"));
  EXPECT_FALSE(email_resource_manager_queue_email_send("E1", EmailSendType::Reply, "", true));

  EXPECT_EQ(status->calls(), (std::vector<Call>{{"isNewEmailTimestamp", Json::array{1700000000000LL}}}));
  EXPECT_EQ(lists->calls(), (std::vector<Call>{{"getOrderKey", Json::array{"Work"}}}));
  EXPECT_EQ(resources->calls(), (std::vector<Call>{{"hasNoQueuedUploadsForEmail", Json::array{"E1"}},
                                                   {"queueEmailSend", Json::array{"E1", 1, "", true}}}));
}

TEST_F(ServiceForwardersTest, WithoutAnInstanceNothingHappensAndAnswersAreNeutral) {
  auto counts = std::make_shared<kestrun_test::FakeCountsManager>();
  counts_manager_set_instance(counts);
  clear_instances();

  counts_manager_update_counts_for_state_change(ItemState::Inbox, ItemState::Archive, "A1");
  undo_manager_lock();
  MemoryContext context;
  undo_manager_record_action(std::make_shared<KSItem>(&context), ItemState::Archive);
  undo_manager_unlock();
  changes_manager_set_tokens("A1", 1, 2, 3);
  offline_manager_send_requests_for_ids({"I1"});
  search_data_manager_process_query_finished(nullptr);
  attachment_manager_clear();

  EXPECT_TRUE(counts->calls().empty());
  EXPECT_FALSE(sync_status_manager_is_new_email_timestamp(1700000000000));
  EXPECT_EQ(list_ordering_manager_get_order_key("Work"), 0);
  EXPECT_EQ(search_data_manager_get_current_search_id(), std::nullopt);
  EXPECT_FALSE(email_resource_manager_has_no_queued_uploads_for_email("E1"));
  EXPECT_FALSE(email_resource_manager_queue_email_send("E1", EmailSendType::Reply, "", true));
}

}  // namespace
