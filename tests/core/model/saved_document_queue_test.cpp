// The server's copy of a saved object, coming back through the model into the real outgoing
// queue: it drops the queued request it confirms and keeps a newer change of the same object that
// the server has not applied yet.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/foundation/defaults.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/task_manager.h"
#include "core/services/offline_manager.h"
#include "list_fixture.h"

namespace {

using jsonette::Json;

class SavedDocumentQueueTest : public kestrun_test::ListTest {
 protected:
  SavedDocumentQueueTest() { libkestrun::offline_manager_set_instance(offline_); }
  ~SavedDocumentQueueTest() override { libkestrun::offline_manager_set_instance(nullptr); }

  // The doc of the request stored for `objectID`, or null.
  Json queuedDoc(const std::string& objectID) {
    return libkestrun::Defaults(store_).get_json(
        "offline.manager.queued.requests")[objectID]["params"]["doc"];
  }

  std::shared_ptr<libkestrun::MemoryStore> store_ = std::make_shared<libkestrun::MemoryStore>();
  std::shared_ptr<libkestrun::OfflineManager> offline_ = std::make_shared<libkestrun::OfflineManager>(
      libkestrun::OfflineManager::kConnectionWifi, std::make_shared<libkestrun::Defaults>(store_),
      std::make_shared<libkestrun::LoggingTaskManager>(), nullptr);
};

Json request(const char* method, const char* id, Json::object doc) {
  return Json::object{{"method", method}, {"id", id}, {"params", Json::object{{"doc", std::move(doc)}}}};
}

TEST_F(SavedDocumentQueueTest, AnEchoDropsOnlyTheRequestItConfirms) {
  const Json::object saved = {{"_id", "AL1"}, {"acct_id", "A"}, {"name", "Later"}, {"created_at", 5}};
  const Json::object renamed = {{"_id", "AL1"}, {"acct_id", "A"}, {"name", "Soon"}};
  const Json::object both = {{"_id", "AL1"}, {"acct_id", "A"}, {"name", "Soon"}, {"created_at", 5}};
  const Json::object deleted = {{"_id", "AL1"}, {"acct_id", "A"}, {"name", "Soon"}};
  // The server's copy of the save, and of the rename after it (the server owns "sync_data").
  const char* const save_echo =
      "{'_id': 'AL1', 'acct_id': 'A', 'name': 'Later', 'created_at': 5, 'saved_at': 10, 'sync_data': {'v': "
      "1}}";
  const char* const rename_echo =
      "{'_id': 'AL1', 'acct_id': 'A', 'name': 'Soon', 'created_at': 5, 'saved_at': 11, 'sync_data': {'v': "
      "2}}";
  struct Case {
    const char* name;
    std::vector<Json> queued;
    std::vector<std::pair<const char*, Json>> echoes;  // each echo, then the doc still queued
  };
  const Case cases[] = {
      {"the echo of the queued save", {request("LIST_SAVE", "r1", saved)}, {{save_echo, nullptr}}},
      {"a rename queued while the save's echo was on its way",
       {request("LIST_SAVE", "r1", saved), request("LIST_UPDATE", "r2", renamed)},
       {{save_echo, both}, {rename_echo, nullptr}}},
      {"a rename refused after the save was answered",
       {request("LIST_UPDATE", "r2", renamed)},
       {{save_echo, renamed}, {rename_echo, nullptr}}},
      {"an echo that lacks a member the request set",
       {request("LIST_UPDATE", "r2", renamed)},
       {{"{'_id': 'AL1', 'acct_id': 'A', 'saved_at': 10}", renamed}}},
      // Only a deleted copy confirms a deletion; that copy is refused before any acknowledgement,
      // so the server's answer to the request removes it.
      {"a deletion queued after the rename",
       {request("LIST_DELETE", "r3", deleted)},
       {{rename_echo, deleted}}},
      {"an echo without a saved time",
       {request("LIST_SAVE", "r1", saved)},
       {{"{'_id': 'AL1', 'acct_id': 'A', 'name': 'Later', 'created_at': 5}", saved}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    offline_->clear();
    for (const Json& message : c.queued) offline_->addRequest(message);
    for (const auto& [echo, left] : c.echoes) {
      SCOPED_TRACE(echo);
      ASSERT_NE(applyList(echo), nullptr);
      EXPECT_EQ(queuedDoc("AL1").dump(), left.dump());
    }
  }
}

TEST_F(SavedDocumentQueueTest, AnItemIsConfirmedByItsModifiedTime) {
  storeItem("I1", 100);
  offline_->addRequest(request("ITEM_UPDATE", "r1", {{"_id", "I1"}, {"acct_id", "A"}, {"state", 4}}));
  // A version saved before the local change leaves it queued.
  apply("item", "{'_id': 'I1', 'acct_id': 'A', 'saved_at': 5, 'state': 3, 'modified_at': 99}");
  EXPECT_EQ(queuedDoc("I1").dump(), Json(Json::object{{"_id", "I1"}, {"acct_id", "A"}, {"state", 4}}).dump());
  // A version saved at or after it confirms it, whatever its members say.
  apply("item", "{'_id': 'I1', 'acct_id': 'A', 'saved_at': 6, 'state': 3, 'modified_at': 100}");
  EXPECT_TRUE(queuedDoc("I1").is_null());
}

}  // namespace
