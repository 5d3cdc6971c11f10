// Search results into the memory context, and fetched conversations into the database (see
// data_center.h).
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/data/data_center.h"
#include "core/data/held_document.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/services/search_data_manager.h"

namespace {

using Results = std::vector<std::string>;

std::string stringOf(const json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

// The document's "search_id" when it is the current search's; nothing for a result of an
// earlier search, or when no search runs.
std::optional<std::string> currentSearchOf(json_t* document) {
  json_t* id = json_object_get(document, "search_id");
  if (!json_is_string(id)) return std::nullopt;
  std::optional<std::string> current = libkestrun::search_data_manager_get_current_search_id();
  if (!current || *current != stringOf(id)) return std::nullopt;
  return current;
}

// Queues `task` as a normal memory task holding the document, when it passes the gate.
template <class Task>
void queueGated(json_t* document, Task task) {
  std::optional<std::string> searchID = currentSearchOf(document);
  if (!searchID) return;
  auto held = libkestrun::hold_document(document);
  KestrunDataCenter::performMemoryDataTask(
      [held, searchID = *searchID, task = std::move(task)](Results&, MemoryContext& memory) {
        task(held.get(), searchID, memory);
      },
      KSDataTaskBlockPriorityNormal, nullptr, nullptr);
}

// The array under `key` when the result names its account and the array has elements.
json_t* resultElements(json_t* result, const char* key) {
  json_t* elements = json_object_get(result, key);
  if (json_object_get(result, "account_id") == nullptr || !json_is_array(elements) ||
      json_array_size(elements) == 0)
    return nullptr;
  return elements;
}

// The element's string "_id"; nothing for an element that is not an object or has none.
std::optional<std::string> elementID(json_t* element) {
  json_t* id = json_object_get(element, "_id");
  if (!json_is_object(element) || !json_is_string(id)) return std::nullopt;
  return stringOf(id);
}

// True when the stored item of that id is known only from the cloud.
bool isSearchOnly(DBContext& context, json_t* id) {
  if (!json_is_string(id) || !context.itemExists(stringOf(id))) return false;
  std::shared_ptr<KSItem> item = context.fetchItem(stringOf(id));
  return item && item->masterRev() == KSItem::searchOnlyMasterRev();
}

void applyEmailResults(json_t* result, bool update, const std::string& searchID, MemoryContext& memory) {
  json_t* emails = resultElements(result, "emails");
  if (emails == nullptr) return;
  json_t* account = json_object_get(result, "account_id");
  for (size_t i = 0; i < json_array_size(emails); ++i) {
    json_t* element = json_array_get(emails, i);
    std::optional<std::string> id = elementID(element);
    if (!id) continue;
    const bool known = KestrunContext::objectExists(*id, "KSEMAIL", &memory);
    std::shared_ptr<KestrunObject> email;
    if (update && known) {
      email = KestrunContext::fetchObject(element, "email", "_id", &memory);
      if (email) {
        email->setFromServerKey("preview", json_object_get(element, "preview"));
        memory.objectChanged(email);
      }
    } else if (!update && !known) {
      json_object_set(element, "acct_id", account);
      email = KestrunContext::applyServerDocument(element, "email", "_id", &memory);
    }
    if (!email) continue;
    auto& typed = static_cast<KSEmail&>(*email);
    typed.updateParentItem(searchID, &memory);
    if (auto item = typed.parentItem()) memory.objectChanged(item);
  }
}

void applyItemResults(json_t* result, const std::string& searchID, MemoryContext& memory) {
  json_t* threads = resultElements(result, "threads");
  if (threads == nullptr) return;
  json_t* account = json_object_get(result, "account_id");
  for (size_t i = 0; i < json_array_size(threads); ++i) {
    json_t* element = json_array_get(threads, i);
    if (json_is_object(element)) json_object_set(element, "acct_id", account);
    std::optional<std::string> id = elementID(element);
    if (!id || !KestrunContext::objectExists(*id, "KSITEM", &memory)) continue;
    auto item =
        std::static_pointer_cast<KSItem>(KestrunContext::fetchObject(element, "item", "_id", &memory));
    // Only the item that an e-mail result created (no state yet) is filled; one with a state
    // keeps what it shows.
    if (!item || item->state() != libkestrun::ItemState::None) continue;
    KestrunContext::applyDocumentFields(item, element);
    item->setSearchID(searchID);
    item->setMasterRev(KSItem::searchOnlyMasterRev());
    item->readSyncData(element);
    if (!item->loadedOnce()) item->setLoadedOnce(true);
    memory.objectChanged(item);
  }
}

}  // namespace

void KestrunDataCenter::loadLocalSearchResults(const std::string& searchID, const std::string& text,
                                               const std::string& accountID) {
  if (text.empty()) return;
  const KSQueryRows rows = getDBContext()->quickSearchItems(text, accountID);
  for (const auto& row : *rows) {
    static_cast<KSItem&>(*row).copyToContext(searchID, getMemoryContext(), true);
  }
}

void KestrunDataCenter::processLocalFullSearch(const std::string& searchID, const std::string& text,
                                               const std::string& accountID) {
  if (searchID.empty() || text.empty()) return;
  performMemoryDataTask(
      [searchID, text, accountID](Results&, MemoryContext& memory) {
        const KSQueryRows rows = getDBContext()->fullSearchItems(text, accountID);
        for (const auto& row : *rows) {
          static_cast<KSItem&>(*row).copyToContext(searchID, &memory, false);
        }
      },
      KSDataTaskBlockPriorityNormal,
      [searchID](Results&) { libkestrun::search_data_manager_finish_search(searchID); }, nullptr);
}

void KestrunDataCenter::processQueryEmailResults(json_t* result, bool update) {
  queueGated(result, [update](json_t* document, const std::string& searchID, MemoryContext& memory) {
    applyEmailResults(document, update, searchID, memory);
  });
}

void KestrunDataCenter::processQueryItemResults(json_t* result) { queueGated(result, applyItemResults); }

// The three hand-overs run as memory tasks only for their place in the queue: behind every result
// task queued before them.
void KestrunDataCenter::processQueryFinished(json_t* result) {
  queueGated(result, [](json_t* document, const std::string&, MemoryContext&) {
    libkestrun::search_data_manager_process_query_finished(document);
  });
}

void KestrunDataCenter::processQueryError(json_t* error) {
  queueGated(error, [](json_t* document, const std::string&, MemoryContext&) {
    libkestrun::search_data_manager_process_query_error(document);
  });
}

void KestrunDataCenter::processFetchError(json_t* error) {
  queueGated(error, [](json_t* document, const std::string&, MemoryContext&) {
    libkestrun::search_data_manager_process_fetch_error(document);
  });
}

void KestrunDataCenter::processFetchResults(json_t* result, Completion first, Completion second) {
  if (!currentSearchOf(result)) return;
  auto held = libkestrun::hold_document(result);
  performNormalDataTask(
      [held](Results&, DBContext& context) {
        json_t* thread = json_object_get(held.get(), "thread");
        if (json_is_object(thread)) {
          const bool searchOnly = isSearchOnly(context, json_object_get(thread, "_id"));
          auto item = applyDocument(thread, "item");
          // Only a conversation new to this device, or one a fetch already stored, is search-only.
          // An ordinary one keeps its revision: marked search-only it would vanish from every
          // folder and count, and the stale-data purge would delete it with its e-mails. A fetched
          // one keeps the mark over the server's revision, or it would show in the folders and
          // outlive that purge.
          if (item && (item->isInserted() || searchOnly))
            static_cast<KSItem&>(*item).setMasterRev(KSItem::searchOnlyMasterRev());
        }
        json_t* emails = json_object_get(held.get(), "emails");
        for (size_t i = 0; json_is_array(emails) && i < json_array_size(emails); ++i) {
          applyDocument(json_array_get(emails, i), "email");
        }
      },
      std::move(first), std::move(second));
}

void KestrunDataCenter::updateSearchFetchedItem(const std::string& itemID) {
  performMemoryDataTask(
      [itemID](Results&, MemoryContext& memory) {
        DBContext& context = *getDBContext();
        if (!context.itemExists(itemID)) return;
        std::shared_ptr<KSItem> item = context.fetchItem(itemID);
        if (!item) return;
        if (auto copy = item->copyToContext(item->searchID(), &memory, false)) {
          copy->setInserted(false);
          copy->setUpdated(true);
        }
      },
      KSDataTaskBlockPriorityNormal, nullptr, nullptr);
}
