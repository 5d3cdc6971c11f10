// The routines that the data writer's operations share: the operation frame, the task shapes of
// single-item and batch triage, the item routines on which every item change rests, and the
// e-mail and draft routines that item changes call. They run only inside data tasks, on the core
// thread, and take no lock of their own beyond the undo manager's (see UndoStepLock).
//
// Flags of the routines:
//   sendNow       true in single-item operations: each request is written as soon as it is
//                 built. False in batches: each request only enters the outgoing queue, which
//                 keeps one merged request per object.
//   collectedIds  in batches, the ids of the objects whose requests were queued, in order; the
//                 batch sends them as one message at its end. Null in single-item operations.
//   engaged       sent as "engaged" in the update's meta object: the conversation was read.
//   byAutoSwipe   the change applies an auto-swipe rule: the update carries the rule and no
//                 decision about a suggested rule is sent.
//
// The state routines answer true when they changed the item and false when they left it alone
// (no item, or already in the target state). Items may be null.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/data/data_writer.h"
#include "core/model/db_context.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/store/draft.h"
#include "core/store/model_enums.h"

namespace libkestrun::internal {

using Ids = std::vector<std::string>;
using ChangeNames = std::unordered_set<std::string>;

// --- Frame and task shapes (data_writer.cpp) ---

// Queues `task` at normal priority with an empty first completion and `completion` second.
void performWriterTask(KestrunDataCenter::DataTask task, KestrunDataWriter::Completion completion);

// Holds the undo manager's recursive mutex for a triage task, and releases it also when the task
// throws (the data center catches and rolls back, and the mutex must not stay taken).
class UndoStepLock {
 public:
  UndoStepLock();
  ~UndoStepLock();
  UndoStepLock(const UndoStepLock&) = delete;
  UndoStepLock& operator=(const UndoStepLock&) = delete;
};

// A triage routine as the task shapes call it.
using ItemRoutine =
    std::function<bool(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged)>;

// Inside a task. Single item: undo lock and clear (the old step goes even when nothing changes),
// fetch, engaged (false when overridden or the item is missing, else the conversation's read
// state), the routine with sendNow true. True when the routine changed the item.
bool runSingleItemTriage(const std::string& itemId, bool overrideEngagedToBeFalse, DBContext& context,
                         const ItemRoutine& routine);
// Inside a task. Batch: undo lock, the stored items among the ids, undo clear, the routine for each
// with sendNow false and engaged from its read state, then the collected requests in one message.
void runBatchTriage(const Ids& itemIds, DBContext& context, const ItemRoutine& routine);
// The batch without the undo lock and clear (erasing).
void runBatch(const Ids& itemIds, DBContext& context, const ItemRoutine& routine);
// Queues a task of the single-item or the batch shape.
void performSingleItemTriage(const std::string& itemId, bool overrideEngagedToBeFalse, ItemRoutine routine,
                             KestrunDataWriter::Completion completion);
void performBatchTriage(const Ids& itemIds, ItemRoutine routine, KestrunDataWriter::Completion completion);
// Sends the queued requests of the ids as one message; nothing for an empty list.
void sendCollected(const Ids& collectedIds);
// Appends `id` when the list is given.
void collect(Ids* collectedIds, const std::string& id);

// --- Item routines (data_writer_items.cpp) ---

std::shared_ptr<KSItem> internalFetchItem(const std::string& itemId, KestrunContext& context);

// The state step of every change: the new state (the old one becomes PREVIOUSSTATE, a state other
// than a list leaves the list), a search-only item becomes a stored one, and a hand triage answers
// a waiting auto-swipe suggestion (whose item updates join `collectedIds`).
void internalChangeItemState(const std::shared_ptr<KSItem>& item, ItemState state, bool sendNow,
                             Ids* collectedIds, bool byAutoSwipe);
// Read on move, unstar on move and the defer-read update, in this order. `before` is the state the
// item had before the routine.
void internalApplyMoveSideEffects(const std::shared_ptr<KSItem>& item, ItemState before, bool sendNow,
                                  Ids* collectedIds);
// "ITEM_UPDATE" of the named changes with the meta object.
void internalSendItemUpdate(const std::shared_ptr<KSItem>& item, const ChangeNames& names, bool engaged,
                            bool sendNow);
// The "meta" member of an item update: "engaged", the list's name while the item is filed, and
// the conversation's original participants. A new reference.
json_t* internalItemMeta(const std::shared_ptr<KSItem>& item, bool engaged);
// An "ITEM_UPDATE" of the named changes without a meta object.
void internalSendItemChanges(const std::shared_ptr<KSItem>& item, const ChangeNames& names, bool sendNow);
// Moves one count of the item's account from the bucket of `before` to that of `after`; nothing
// when the state did not change.
void internalUpdateCounts(const std::shared_ptr<KSItem>& item, ItemState before, ItemState after);

// --- Triage routines (data_writer_triage.cpp) ---

bool internalCompleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged,
                          bool byAutoSwipe);
bool internalDeleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged,
                        bool byAutoSwipe);
bool internalSpamifyItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged);
bool internalActivateItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds, bool engaged);
// Only from the trash or spam; the item's drafts go with it.
bool internalFullDeleteItem(const std::shared_ptr<KSItem>& item, bool sendNow, Ids* collectedIds,
                            bool engaged, DBContext& context);

// --- Deferral routines (data_writer_deferral.cpp) ---

// Sets the deferral fields of one kind; may be empty.
using DeferralSetter = std::function<void()>;
bool internalDeferItem(const std::shared_ptr<KSItem>& item, const DeferralSetter& setter,
                       SnoozeType snoozeType, bool sendNow, Ids* collectedIds, bool engaged,
                       bool byAutoSwipe);
// Until `time`, or the snooze type's time when `time` is 0.
bool internalDeferItemByTime(const std::shared_ptr<KSItem>& item, int64_t time, SnoozeType snoozeType,
                             bool sendNow, Ids* collectedIds, bool engaged, bool byAutoSwipe);
// Device snoozes keep the remind time; the others go by time.
bool internalSnoozeDeferItem(const std::shared_ptr<KSItem>& item, SnoozeType snoozeType, int64_t time,
                             bool sendNow, Ids* collectedIds, bool engaged, bool byAutoSwipe);
bool internalTriggerDeviceDeferredItem(const std::shared_ptr<KSItem>& item, SnoozeType snoozeType,
                                       bool sendNow, Ids* collectedIds);

// --- E-mail routines (data_writer_email_flags.cpp) ---

std::shared_ptr<KSEmail> internalFetchEmail(const std::string& emailId, KestrunContext& context);
bool internalReadEmail(const std::shared_ptr<KSEmail>& email, bool sendNow);
bool internalUnstarEmail(const std::shared_ptr<KSEmail>& email, bool sendNow);
// Always written at once.
void internalStarEmail(const std::shared_ptr<KSEmail>& email);
bool internalUnreadEmail(const std::shared_ptr<KSEmail>& email, bool sendNow);

// --- List routines (data_writer_lists.cpp, data_writer_list_management.cpp) ---

// The list with the id, or null.
std::shared_ptr<KSList> internalFetchList(const std::string& listId, KestrunContext& context);
// Files the item into the list (state 5) under its account's account list, which is created when
// missing; false for a null item or list, or an item already in this list.
bool internalAssociateItemWithList(const std::shared_ptr<KSItem>& item, const std::shared_ptr<KSList>& list,
                                   bool sendNow, Ids* collectedIds, DBContext& context, bool engaged,
                                   bool byAutoSwipe);

// --- Auto-swipe rules (data_writer_rules.cpp) ---

// The user turned the rule down or switched it off: unless the rule is null or another user's,
// the decision goes to the server with the rule as it was, the rule becomes ignored, and each of
// its items is marked ignored, updated on the server (with `sendNow`, its id collected) and let go.
void internalIgnoreAutoSwipe(const std::shared_ptr<KSAutoSwipe>& rule, AutoSwipeDecisionAction action,
                             bool sendNow, Ids* collectedIds);

// --- Draft removal (data_writer_draft_removal.cpp) ---

// Removes the draft from the store and from its conversation, and queues its removal for the
// server.
void internalDeleteDraft(const libkestrun::internal::Draft& draft, DBContext& context);

}  // namespace libkestrun::internal
