// What the model tests share: a recorder of the change sets that commits hand to the live
// queries, and a persistent context that keeps its objects in its own cache the way the database
// context does, writing its rows to a log instead of a database.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/model/kestrun_context.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/model/query_updater.h"

namespace kestrun_test {

// Installed as the process-wide query updater for the life of the object.
class QueryRecorder : public libkestrun::QueryUpdater {
 public:
  static std::shared_ptr<QueryRecorder> install() {
    auto recorder = std::make_shared<QueryRecorder>();
    libkestrun::query_updater_set_instance(recorder);
    return recorder;
  }
  ~QueryRecorder() override = default;

  void update_queries(libkestrun::ChangeSet changes, bool force) override {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({std::move(changes), force});
  }

  struct Call {
    libkestrun::ChangeSet changes;
    bool force;
  };
  std::mutex mutex;
  std::vector<Call> calls;
};

// A persistent context over its own object cache: exists and fetch answer from the cache, new
// objects go through the base factory, and a commit saves each pending object (the saves are
// logged as "insertItem:<id>" and so on) before recording it, as the database context does.
class CachingContext : public MemoryContext {
 public:
  CachingContext() : MemoryContext(kPersistentKind) {}

  void reset() override { KestrunContext::reset(); }
  std::shared_ptr<KestrunObject> createObject(const std::string& table, const std::string& id) override {
    return KestrunContext::createObject(table, id);
  }
  bool itemExists(const std::string& id) override { return cachedObject("KSITEM", id) != nullptr; }
  std::shared_ptr<KSItem> fetchItem(const std::string& id) override {
    return std::static_pointer_cast<KSItem>(cachedObject("KSITEM", id));
  }
  void insertItem(const libkestrun::internal::Item& row) override {
    log.push_back("insertItem:" + row.get_ITEMID());
  }
  void updateItem(const libkestrun::internal::Item& row) override {
    log.push_back("updateItem:" + row.get_ITEMID());
  }
  void removeItem(const std::string& id) override { log.push_back("removeItem:" + id); }

  std::shared_ptr<std::vector<Draft>> draftsForItem(const std::string& itemID) override {
    auto found = draftsByItem.find(itemID);
    if (found == draftsByItem.end()) return nullptr;
    return std::make_shared<std::vector<Draft>>(found->second);
  }
  std::optional<Draft> fetchDraft(const std::string& draftID) override {
    auto found = storedDrafts.find(draftID);
    if (found == storedDrafts.end()) return std::nullopt;
    return found->second;
  }
  void remove(const Draft& draft) override { log.push_back("removeDraft:" + draft.get_draft_id()); }
  bool save(const Draft& draft) override {
    log.push_back("saveDraft:" + draft.get_draft_id());
    return true;
  }
  // The server's copy is refused, as an older version would be.
  bool save_from_server(const Draft& draft) override {
    log.push_back("saveServerDraft:" + draft.get_draft_id());
    return false;
  }

  void commit(libkestrun::ChangeSet& changes) {
    if (pending().empty()) return;
    for (const auto& object : pending().take()) {
      if (object->isDeleted()) uncacheObject(object->tableName(), object->id(), *object);
      object->save();
      recordChange(changes, object);
    }
    libkestrun::query_updater_update_queries(changes, false);
  }

  std::shared_ptr<KestrunObject> cached(const std::string& table, const std::string& id) const {
    return cachedObject(table, id);
  }
  size_t pendingCount() { return pending().size(); }

  std::vector<std::string> log;
  std::map<std::string, std::vector<Draft>> draftsByItem;
  std::map<std::string, Draft> storedDrafts;
};

}  // namespace kestrun_test
