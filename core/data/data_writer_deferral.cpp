// Deferral of items until a time or a device kind, the defer-read flag, and the return of
// device-deferred items to the inbox.
#include "core/data/data_writer_routines.h"
#include "core/foundation/utility.h"
#include "core/model/snooze_time_calculator.h"
#include "core/services/undo_manager.h"

using libkestrun::ItemState;
using libkestrun::SnoozeType;
using namespace libkestrun::internal;

namespace libkestrun::internal {

bool internalDeferItem(const std::shared_ptr<KSItem>& item, const DeferralSetter& setter,
                       SnoozeType snoozeType, bool sendNow, Ids* collectedIds, bool engaged,
                       bool byAutoSwipe) {
  // No state guard: a deferred item is deferred again with the new values.
  if (!item) return false;
  const ItemState before = item->state();
  undo_manager_record_action(item, ItemState::Later);
  internalChangeItemState(item, ItemState::Later, sendNow, collectedIds, byAutoSwipe);
  if (setter) setter();
  item->setSnoozeType(snoozeType);
  const int64_t now = Utility::now_ms();
  item->setModifiedAt(now);
  item->updateDeferralBucket(now);
  internalApplyMoveSideEffects(item, before, sendNow, collectedIds);
  internalUpdateCounts(item, before, ItemState::Later);
  ChangeNames names{"state", "deferralData", "deferralType", "modifiedAt"};
  if (byAutoSwipe) names.insert("autoSwipeData");
  internalSendItemUpdate(item, names, engaged, sendNow);
  return true;
}

bool internalDeferItemByTime(const std::shared_ptr<KSItem>& item, int64_t time, SnoozeType snoozeType,
                             bool sendNow, Ids* collectedIds, bool engaged, bool byAutoSwipe) {
  auto setter = [&item, time, snoozeType] {
    item->setRemindAt(time != 0 ? time : snoozeRemindTime(snoozeType, Utility::now_ms()));
    item->setDeferralType(snoozeType == SnoozeType::None ? DeferralType::UntilTime : DeferralType::BySnooze);
  };
  return internalDeferItem(item, setter, snoozeType, sendNow, collectedIds, engaged, byAutoSwipe);
}

bool internalSnoozeDeferItem(const std::shared_ptr<KSItem>& item, SnoozeType snoozeType, int64_t time,
                             bool sendNow, Ids* collectedIds, bool engaged, bool byAutoSwipe) {
  if (snoozeType == SnoozeType::Desktop || snoozeType == SnoozeType::Mobile) {
    // The item waits for the device kind; its remind time stays as it was.
    auto setter = [&item] { item->setDeferralType(DeferralType::BySnooze); };
    return internalDeferItem(item, setter, snoozeType, sendNow, collectedIds, engaged, byAutoSwipe);
  }
  return internalDeferItemByTime(item, time, snoozeType, sendNow, collectedIds, engaged, byAutoSwipe);
}

bool internalTriggerDeviceDeferredItem(const std::shared_ptr<KSItem>& item, SnoozeType snoozeType,
                                       bool sendNow, Ids* collectedIds) {
  if (!item || item->state() != ItemState::Later || item->snoozeType() != snoozeType) return false;
  internalChangeItemState(item, ItemState::Inbox, sendNow, collectedIds, false);
  item->setModifiedAt(Utility::now_ms());
  item->setDeferRead(false);
  internalUpdateCounts(item, ItemState::Later, ItemState::Inbox);
  internalSendItemUpdate(item, {"state", "modifiedAt", "deferRead"}, false, sendNow);
  return true;
}

}  // namespace libkestrun::internal

void KestrunDataWriter::deferItemUntilDate(const std::string& itemId, int64_t time, SnoozeType snoozeType,
                                           Completion completion, bool overrideEngagedToBeFalse) {
  performSingleItemTriage(
      itemId, overrideEngagedToBeFalse,
      [time, snoozeType](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
        return internalDeferItemByTime(item, time, snoozeType, sendNow, collectedIds, engaged, false);
      },
      std::move(completion));
}

void KestrunDataWriter::deferItemsUntilDate(const Ids& itemIds, int64_t time, SnoozeType snoozeType,
                                            Completion completion) {
  performBatchTriage(
      itemIds,
      [time, snoozeType](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
        return internalDeferItemByTime(item, time, snoozeType, sendNow, collectedIds, engaged, false);
      },
      std::move(completion));
}

void KestrunDataWriter::deferItemWithSnoozeType(const std::string& itemId, SnoozeType snoozeType,
                                                Completion completion, bool overrideEngagedToBeFalse) {
  performSingleItemTriage(
      itemId, overrideEngagedToBeFalse,
      [snoozeType](const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged) {
        return internalSnoozeDeferItem(item, snoozeType, 0, sendNow, collectedIds, engaged, false);
      },
      std::move(completion));
}

void KestrunDataWriter::deferItemsWithSnoozeType(const Ids& itemIds, SnoozeType snoozeType,
                                                 Completion completion) {
  performWriterTask(
      [itemIds, snoozeType](Ids&, DBContext& context) {
        // One remind time for the whole batch, taken before the items are read.
        const int64_t remindTime = libkestrun::snoozeRemindTime(snoozeType, libkestrun::Utility::now_ms());
        runBatchTriage(itemIds, context,
                       [remindTime, snoozeType](const std::shared_ptr<KSItem>& item, bool sendNow,
                                                Ids* collectedIds, bool engaged) {
                         return internalSnoozeDeferItem(item, snoozeType, remindTime, sendNow, collectedIds,
                                                        engaged, false);
                       });
      },
      std::move(completion));
}

void KestrunDataWriter::deferReadItem(const std::string& itemId, Completion completion) {
  performWriterTask(
      [itemId](Ids&, DBContext& context) {
        std::shared_ptr<KSItem> item = internalFetchItem(itemId, context);
        if (!item || item->deferRead()) return;
        item->setDeferRead(true);
        internalSendItemChanges(item, {"deferRead"}, true);
      },
      std::move(completion));
}

void KestrunDataWriter::triggerDeviceDeferredItem(const std::string& itemId, SnoozeType snoozeType,
                                                  Completion completion) {
  performWriterTask(
      [itemId, snoozeType](Ids&, DBContext& context) {
        internalTriggerDeviceDeferredItem(internalFetchItem(itemId, context), snoozeType, true, nullptr);
      },
      std::move(completion));
}

void KestrunDataWriter::triggerAllDeviceDeferredItems(SnoozeType snoozeType, const std::string& accountId,
                                                      Completion completion) {
  performWriterTask(
      [snoozeType, accountId](Ids&, DBContext& context) {
        Ids collected;
        KSObjects<KSItem> items = context.deviceDeferredItems(snoozeType, accountId);
        for (const auto& item : *items) {
          if (internalTriggerDeviceDeferredItem(item, snoozeType, false, &collected))
            collected.push_back(item->itemID());
        }
        sendCollected(collected);
      },
      std::move(completion));
}
