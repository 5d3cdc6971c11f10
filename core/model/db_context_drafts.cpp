// The database context's drafts: the conversation rows they make, the two version rules of their
// saves, the direct writes, and keeping each draft's conversation item in step with it.
#include <algorithm>
#include <utility>

#include "core/accounts/account_manager.h"
#include "core/foundation/utility.h"
#include "core/model/db_context.h"
#include "core/model/draft_object.h"
#include "core/model/ks_convo_item.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"

namespace {

using libkestrun::internal::Draft;
using libkestrun::internal::DraftAttr;

const char kDraftItemPrefix[] = "draft_item_";

}  // namespace

std::shared_ptr<std::vector<Draft>> DBContext::draftsForItem(const std::string& itemID) {
  auto drafts = std::make_shared<std::vector<Draft>>(draftsByItem_.fetch_all(DraftAttr::item_id, itemID));
  std::sort(drafts->begin(), drafts->end(), [](const Draft& a, const Draft& b) {
    return KSConvoItem::ModifiedAtAsc()(KSConvoItem(a), KSConvoItem(b));
  });
  return drafts;
}

std::shared_ptr<std::vector<KSConvoItem>> DBContext::convoItemsForItem(const std::string& itemID) {
  auto emails = emailsWithParentItem(itemID);
  auto drafts = draftsByItem_.fetch_all(DraftAttr::item_id, itemID);
  auto rows = std::make_shared<std::vector<KSConvoItem>>();
  rows->reserve(drafts.size() + emails->size());
  for (const auto& draft : drafts) rows->emplace_back(draft);
  for (const auto& email : *emails) rows->emplace_back(email);
  std::sort(rows->begin(), rows->end(), KSConvoItem::ModifiedAtAsc());
  return rows;
}

std::shared_ptr<std::vector<KSConvoItem>> DBContext::convoItemsForDraft(const std::string& draftID) {
  auto rows = std::make_shared<std::vector<KSConvoItem>>();
  if (auto draft = fetchDraft(draftID)) rows->emplace_back(*draft);
  return rows;
}

void DBContext::remove(const Draft& draft) { removeDraftRow(draft); }

bool DBContext::save(const Draft& draft) {
  return draftQuery_.save_if(draft, [](const std::optional<Draft>& stored, const Draft& candidate) {
    return !stored || stored->get_version() < candidate.get_version();
  });
}

bool DBContext::save_from_server(const Draft& draft) {
  return draftQuery_.save_if(draft, [](const std::optional<Draft>& stored, const Draft& candidate) {
    return !stored || !(candidate.get_version() < stored->get_version());
  });
}

std::optional<Draft> DBContext::fetchDraft(const std::string& draftID) {
  return draftQuery_.fetch_by_id(draftID);
}

bool DBContext::draftExists(const std::string& draftID) {
  if (cachedObject(Draft::table_name, draftID)) return true;
  return draftQuery_.exists(draftID);
}

bool DBContext::updateOrInsertDraft(const Draft& draft) { return draftQuery_.update_or_insert(draft); }

bool DBContext::removeDraftRow(const Draft& draft) { return draftQuery_.remove(draft.get_draft_id()); }

bool DBContext::removeDraftsForUser(const std::string& userID) {
  return removeDraftsByUser_.remove_where(DraftAttr::user_id, userID);
}

void DBContext::updateItemForDraft(const Draft& draft) {
  std::shared_ptr<KSItem> item;
  if (const auto& itemID = draft.get_item_id()) {
    item = fetch_through<KSItem>("KSITEM", *itemID, itemQuery_);
    if (!item) return;
  } else {
    const std::string key = kDraftItemPrefix + draft.get_draft_id();
    const auto accountID =
        libkestrun::account_manager_get_primary_account_id_for_email_address(draft.get_from().address);
    if (!accountID) return;
    item = fetch_through<KSItem>("KSITEM", key, itemQuery_);
    if (item && item->isDeleted()) {
      // Purged earlier in this unit of work by a removal of the draft, which this change
      // follows: the item stays after all.
      item->setDeleted(false);
      objectChanged(item);
    }
    if (!item) {
      json_t* document = KSItem::makeDocument(key, draft.get_subject(), *accountID);
      item = std::static_pointer_cast<KSItem>(applyServerDocument(document, "item", "_id", this));
      if (document != nullptr) json_decref(document);
      // No item to fold the draft into (no account, or a refused document): the draft is still
      // saved by the commit, it only shows under no item.
      if (!item) return;
    }
    item->setAccountID(*accountID);
    item->setSubject(draft.get_subject());
    item->setThreadTimestamp(draft.get_modified_at());
    item->setModifiedAt(draft.get_modified_at());
  }
  item->addDraft(draft);
}

std::optional<Draft> DBContext::draftAsQueued(const std::string& draftID) {
  auto queued = std::dynamic_pointer_cast<DraftObject>(cachedObject(Draft::table_name, draftID));
  if (queued && !queued->isDeleted()) return queued->draft();
  return fetchDraft(draftID);
}

void DBContext::removeDraft(const std::string& draftID) {
  std::optional<Draft> stored = draftAsQueued(draftID);
  if (stored) {
    deleteDraft(*stored);
    if (const auto& itemID = stored->get_item_id()) {
      if (auto item = fetch_through<KSItem>("KSITEM", *itemID, itemQuery_)) item->removeDraft(draftID);
      return;
    }
  }
  if (auto item = fetch_through<KSItem>("KSITEM", kDraftItemPrefix + draftID, itemQuery_)) {
    item->removeDraft(draftID);
    KSItem::purge(item, this, false);
  }
}
