// Triage of items: archive, back to the inbox, trash, spam, erase for good and re-ordering.
#include <jansson.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/data/data_writer_routines.h"
#include "core/foundation/utility.h"
#include "core/services/undo_manager.h"
#include "core/sync/kestrun_object_server_client.h"

using libkestrun::ItemState;
using namespace libkestrun::internal;

namespace libkestrun::internal {

namespace {

// The common change of archive, trash, spam and inbox: the undo record is taken before any field
// changes, so it keeps the state an undo returns to.
bool moveItem(const std::shared_ptr<KSItem>& item, ItemState target, bool sendNow, Ids* collectedIds,
              bool engaged, bool byAutoSwipe, bool withSideEffects) {
  if (!item || item->state() == target) return false;
  const ItemState before = item->state();
  undo_manager_record_action(item, target);
  item->setModifiedAt(Utility::now_ms());
  internalChangeItemState(item, target, sendNow, collectedIds, byAutoSwipe);
  if (withSideEffects) internalApplyMoveSideEffects(item, before, sendNow, collectedIds);
  internalUpdateCounts(item, before, target);
  ChangeNames names{"modifiedAt", "state"};
  if (byAutoSwipe) names.insert("autoSwipeData");
  internalSendItemUpdate(item, names, engaged, sendNow);
  return true;
}

}  // namespace

bool internalCompleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged,
                          bool byAutoSwipe) {
  return moveItem(item, ItemState::Archive, sendNow, collectedIds, engaged, byAutoSwipe, true);
}

bool internalDeleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged,
                        bool byAutoSwipe) {
  return moveItem(item, ItemState::Trash, sendNow, collectedIds, engaged, byAutoSwipe, true);
}

bool internalSpamifyItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
  return moveItem(item, ItemState::Spam, sendNow, collectedIds, engaged, false, true);
}

bool internalActivateItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds,
                          bool engaged) {
  return moveItem(item, ItemState::Inbox, sendNow, collectedIds, engaged, false, false);
}

bool internalFullDeleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds,
                            bool engaged, DBContext& context) {
  if (!item) return false;
  const ItemState before = item->state();
  if (before != ItemState::Trash && before != ItemState::Spam) return false;
  item->setModifiedAt(Utility::now_ms());
  internalChangeItemState(item, ItemState::Deleted, sendNow, collectedIds, false);
  // Erasing is a local deletion of each draft, so, as every local change of a draft, it raises
  // this device's entry of the draft's version: a removal with the stored version would be no
  // newer than the last save still waiting to go out, and would not replace it. Removing each
  // draft also takes it out of the item's cached drafts and summary.
  if (auto drafts = context.draftsForItem(item->itemID())) {
    const std::string deviceID = user_manager_get_device_id();
    const int64_t now = Utility::now_ms();
    for (Draft draft : *drafts) {
      draft.set_version(draft.get_version().incremented(deviceID));
      draft.set_modified_at(now);
      internalDeleteDraft(draft, context);
    }
  }
  // From the trash the trash count drops; spam has no count, so erasing from spam moves none.
  internalUpdateCounts(item, before, ItemState::Deleted);
  internalSendItemUpdate(item, {"modifiedAt", "state"}, engaged, sendNow);
  return true;
}

}  // namespace libkestrun::internal

namespace {

ItemRoutine complete() {
  return [](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
    return internalCompleteItem(item, sendNow, collectedIds, engaged, false);
  };
}
ItemRoutine activate() {
  return [](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
    return internalActivateItem(item, sendNow, collectedIds, engaged);
  };
}
ItemRoutine trash() {
  return [](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
    return internalDeleteItem(item, sendNow, collectedIds, engaged, false);
  };
}
ItemRoutine spamify() {
  return [](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
    return internalSpamifyItem(item, sendNow, collectedIds, engaged);
  };
}
ItemRoutine fullDelete(DBContext& context) {
  return [&context](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
    return internalFullDeleteItem(item, sendNow, collectedIds, engaged, context);
  };
}

}  // namespace

void KestrunDataWriter::completeItem(const std::string& itemId, Completion completion,
                                     bool overrideEngagedToBeFalse) {
  performSingleItemTriage(itemId, overrideEngagedToBeFalse, complete(), std::move(completion));
}

void KestrunDataWriter::completeItems(const Ids& itemIds, Completion completion) {
  performBatchTriage(itemIds, complete(), std::move(completion));
}

void KestrunDataWriter::activateItem(const std::string& itemId, Completion completion,
                                     bool overrideEngagedToBeFalse) {
  performSingleItemTriage(itemId, overrideEngagedToBeFalse, activate(), std::move(completion));
}

void KestrunDataWriter::activateItems(const Ids& itemIds, Completion completion) {
  performBatchTriage(itemIds, activate(), std::move(completion));
}

void KestrunDataWriter::deleteItem(const std::string& itemId, Completion completion,
                                   bool overrideEngagedToBeFalse) {
  performSingleItemTriage(itemId, overrideEngagedToBeFalse, trash(), std::move(completion));
}

void KestrunDataWriter::deleteItems(const Ids& itemIds, Completion completion) {
  performBatchTriage(itemIds, trash(), std::move(completion));
}

void KestrunDataWriter::spamifyItem(const std::string& itemId, Completion completion,
                                    bool overrideEngagedToBeFalse) {
  performSingleItemTriage(itemId, overrideEngagedToBeFalse, spamify(), std::move(completion));
}

void KestrunDataWriter::spamifyItems(const Ids& itemIds, Completion completion) {
  performBatchTriage(itemIds, spamify(), std::move(completion));
}

void KestrunDataWriter::fullDeleteItem(const std::string& itemId, Completion completion) {
  performWriterTask(
      [itemId](Ids&, DBContext& context) {
        std::shared_ptr<KSItem> item = internalFetchItem(itemId, context);
        internalFullDeleteItem(item, true, nullptr, item && item->threadRead(), context);
      },
      std::move(completion));
}

void KestrunDataWriter::fullDeleteItems(const Ids& itemIds, Completion completion) {
  performWriterTask([itemIds](Ids&, DBContext& context) { runBatch(itemIds, context, fullDelete(context)); },
                    std::move(completion));
}

void KestrunDataWriter::fullDeleteAllTrash(const Ids& itemIds, Completion completion) {
  performWriterTask(
      [itemIds](Ids&, DBContext& context) {
        runBatch(itemIds, context, fullDelete(context));
        // The server purges the rest of each account's trash, which the device may not hold.
        auto accounts = libkestrun::account_manager_all_primary_account_ids();
        for (const std::string& account : *accounts) {
          const int64_t fromDate = KSItem::oldestInboxModifiedAtForAccount(account, &context);
          if (fromDate > 0 && !account.empty())
            kestrun_object_server_client_purge_all_trash(account, fromDate, true);
        }
      },
      std::move(completion));
}

void KestrunDataWriter::moveItemBetweenItems(const std::string& itemId, const std::string& afterItemId,
                                             const std::string& beforeItemId, Completion completion) {
  performWriterTask(
      [itemId, afterItemId, beforeItemId](Ids&, DBContext& context) {
        std::shared_ptr<KSItem> item = internalFetchItem(itemId, context);
        if (!item || (item->state() != ItemState::Inbox && item->state() != ItemState::List)) return;
        std::shared_ptr<KSItem> after = internalFetchItem(afterItemId, context);
        std::shared_ptr<KSItem> before = internalFetchItem(beforeItemId, context);
        int64_t modifiedAt;
        // The neighbours' times come from server documents and may be anything: neither step may
        // overflow.
        if (after && before) {
          // Halfway, rounded toward the item below: 1001 and 1000 give 1000.
          modifiedAt = std::midpoint(before->modifiedAt(), after->modifiedAt());
        } else if (after) {
          modifiedAt = std::max(after->modifiedAt(), std::numeric_limits<int64_t>::min() + 10) - 10;
        } else {
          modifiedAt = libkestrun::Utility::now_ms();
        }
        item->setModifiedAt(modifiedAt);
        internalSendItemChanges(item, {"modifiedAt"}, true);
      },
      std::move(completion));
}
