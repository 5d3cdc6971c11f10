// Filing items in lists, archiving the whole inbox, and the read and star flags of a conversation.
#include <utility>

#include "core/accounts/account_manager.h"
#include "core/data/data_writer_routines.h"
#include "core/foundation/utility.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_list.h"
#include "core/services/counts_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/services/undo_manager.h"
#include "core/sync/kestrun_object_server_client.h"

using libkestrun::ArchiveAllType;
using libkestrun::ItemState;
using namespace libkestrun::internal;

namespace libkestrun::internal {

bool internalAssociateItemWithList(const std::shared_ptr<KSItem>& item, const std::shared_ptr<KSList>& list,
                                   bool sendNow, Ids* collectedIds, DBContext& context, bool engaged,
                                   bool byAutoSwipe) {
  if (!item || !list) return false;
  std::shared_ptr<KSAccountList> accountList =
      KSList::accountListForAccount(list, item->accountID(), &context);
  if (!accountList) return false;
  // An item in state 5 that lost its list is filed again.
  if (item->state() == ItemState::List && item->list() && item->list() == accountList->parentList())
    return false;
  const ItemState before = item->state();
  undo_manager_record_action(item, ItemState::List);
  item->setListID(accountList->listID());
  internalChangeItemState(item, ItemState::List, sendNow, collectedIds, byAutoSwipe);
  list->addItem(item, accountList);
  item->setModifiedAt(Utility::now_ms());
  internalApplyMoveSideEffects(item, before, sendNow, collectedIds);
  // From another list the state stays 5, and no state count moves; the lists' counts did.
  internalUpdateCounts(item, before, ItemState::List);
  ChangeNames names{"listID", "state", "modifiedAt"};
  if (byAutoSwipe) names.insert("autoSwipeData");
  internalSendItemUpdate(item, names, engaged, sendNow);
  return true;
}

}  // namespace libkestrun::internal

namespace {

// Whether an archive-all of the type takes the item.
bool selects(ArchiveAllType type, const KSItem& item) {
  switch (type) {
    case ArchiveAllType::AllInbox:
      return true;
    case ArchiveAllType::Read:
      return item.threadRead();
    case ArchiveAllType::Unstarred:
      return !item.threadStarred();
  }
  return false;
}

// Asks the server to archive the account's inbox from its oldest item on; an account without
// inbox items (or without an id) is not asked.
void requestArchiveAll(ArchiveAllType type, const std::string& accountId, DBContext& context) {
  const int64_t fromDate = KSItem::oldestInboxModifiedAtForAccount(accountId, &context);
  if (fromDate <= 0 || accountId.empty()) return;
  kestrun_object_server_client_archive_all(accountId, fromDate, type, true);
  libkestrun::sync_status_manager_archive_all_started(accountId);
}

// Inside the undo lock: a new undo step of the selected items, archived in one batch.
void archiveSelected(ArchiveAllType type, const KSObjects<KSItem>& items) {
  libkestrun::undo_manager_clear();
  Ids collected;
  for (const auto& item : *items) {
    if (!selects(type, *item)) continue;
    if (internalCompleteItem(item, false, &collected, item->threadRead(), false)) {
      collected.push_back(item->itemID());
    }
  }
  sendCollected(collected);
}

// The newest e-mail of the conversation (the store gives them in no defined order); on equal
// times the later one.
std::shared_ptr<KSEmail> newestEmail(const std::shared_ptr<KSItem>& item) {
  std::shared_ptr<KSEmail> newest;
  if (auto emails = item->emails()) {
    for (const auto& email : *emails) {
      if (!newest || email->get_CREATEDAT() >= newest->get_CREATEDAT()) newest = email;
    }
  }
  return newest;
}

// Queues a task that runs `change` on the item, when it exists.
void withItem(const std::string& itemId, std::function<void(const std::shared_ptr<KSItem>&, Ids&)> change,
              KestrunDataWriter::Completion completion) {
  performWriterTask(
      [itemId, change = std::move(change)](Ids& ids, DBContext& context) {
        if (std::shared_ptr<KSItem> item = internalFetchItem(itemId, context)) change(item, ids);
      },
      std::move(completion));
}

// Every e-mail of the item through `routine`, the queued requests sent as one message.
void forEachEmail(const std::shared_ptr<KSItem>& item,
                  bool (*routine)(const std::shared_ptr<KSEmail>&, bool)) {
  Ids collected;
  if (auto emails = item->emails()) {
    for (const auto& email : *emails) {
      if (routine(email, false)) collected.push_back(email->id());
    }
  }
  sendCollected(collected);
}

}  // namespace

void KestrunDataWriter::associateItemWithList(const std::string& itemId, const std::string& listId,
                                              Completion completion, bool overrideEngagedToBeFalse) {
  performWriterTask(
      [itemId, listId, overrideEngagedToBeFalse](Ids&, DBContext& context) {
        runSingleItemTriage(
            itemId, overrideEngagedToBeFalse, context,
            [&](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
              return internalAssociateItemWithList(item, internalFetchList(listId, context), sendNow,
                                                   collectedIds, context, engaged, false);
            });
      },
      std::move(completion));
}

void KestrunDataWriter::associateItemsWithList(const Ids& itemIds, const std::string& listId,
                                               Completion completion) {
  performWriterTask(
      [itemIds, listId](Ids&, DBContext& context) {
        // Held across the check, so that an unknown list leaves the undo step untouched.
        UndoStepLock lock;
        std::shared_ptr<KSList> list = internalFetchList(listId, context);
        if (!list) return;
        runBatchTriage(
            itemIds, context,
            [&](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
              return internalAssociateItemWithList(item, list, sendNow, collectedIds, context, engaged,
                                                   false);
            });
      },
      std::move(completion));
}

void KestrunDataWriter::archiveAll(ArchiveAllType type, Completion completion) {
  performWriterTask(
      [type](Ids&, DBContext& context) {
        UndoStepLock lock;
        if (auto accounts = libkestrun::account_manager_all_primary_account_ids()) {
          for (const std::string& accountId : *accounts) requestArchiveAll(type, accountId, context);
        }
        archiveSelected(type, KSItem::inboxItems(&context));
        if (type == ArchiveAllType::AllInbox) libkestrun::counts_manager_clear_active_counts();
      },
      std::move(completion));
}

void KestrunDataWriter::archiveAllForAccount(ArchiveAllType type, const std::string& accountId,
                                             Completion completion) {
  performWriterTask(
      [type, accountId](Ids&, DBContext& context) {
        UndoStepLock lock;
        requestArchiveAll(type, accountId, context);
        libkestrun::sync_status_manager_post_status(libkestrun::kSyncArchiveAllOngoing, 0, 0);
        archiveSelected(type, KSItem::inboxItemsForAccount(accountId, &context));
        if (type == ArchiveAllType::AllInbox)
          libkestrun::counts_manager_reset_active_count_for_account(accountId);
      },
      std::move(completion));
}

void KestrunDataWriter::readItem(const std::string& itemId, Completion completion) {
  withItem(
      itemId,
      [](const std::shared_ptr<KSItem>& item, Ids&) {
        if (!item->threadRead()) forEachEmail(item, internalReadEmail);
      },
      std::move(completion));
}

void KestrunDataWriter::unstarItem(const std::string& itemId, Completion completion) {
  withItem(
      itemId,
      [](const std::shared_ptr<KSItem>& item, Ids&) {
        if (item->threadStarred()) forEachEmail(item, internalUnstarEmail);
      },
      std::move(completion));
}

void KestrunDataWriter::starItem(const std::string& itemId, Completion completion) {
  withItem(
      itemId,
      [](const std::shared_ptr<KSItem>& item, Ids&) {
        std::shared_ptr<KSEmail> email = newestEmail(item);
        if (email && !email->get_STARRED()) internalStarEmail(email);
      },
      std::move(completion));
}

void KestrunDataWriter::unreadItem(const std::string& itemId, Completion completion) {
  withItem(
      itemId,
      [](const std::shared_ptr<KSItem>& item, Ids& ids) {
        std::shared_ptr<KSEmail> email = newestEmail(item);
        if (email && email->get_READ() && internalUnreadEmail(email, true)) ids.push_back(email->id());
      },
      std::move(completion));
}
