// The item routines on which every item change of the data writer rests.
#include <jansson.h>

#include "core/data/data_writer_routines.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/pref_manager.h"
#include "core/model/ks_list.h"
#include "core/services/counts_manager.h"
#include "core/sync/kestrun_object_server_client.h"

namespace libkestrun::internal {

std::shared_ptr<KSItem> internalFetchItem(const std::string& itemId, KestrunContext& context) {
  return context.fetchItem(itemId);
}

void internalChangeItemState(const std::shared_ptr<KSItem>& item, ItemState state, bool sendNow,
                             Ids* collectedIds, bool byAutoSwipe) {
  item->setState(state);
  item->promoteSearchOnlyItem();
  // A hand triage of an item whose auto-swipe suggestion waits for the user turns the suggestion
  // down, before the item's own update is written. In a batch the rule's item updates are only
  // queued: their ids go out with the batch's, or they would wait for an unrelated send.
  if (!byAutoSwipe && item->autoSwipeState() == AutoSwipeRuleState::Suggested) {
    internalIgnoreAutoSwipe(item->autoSwipe(), AutoSwipeDecisionAction::TurnedDown, sendNow, collectedIds);
  }
}

void internalApplyMoveSideEffects(const std::shared_ptr<KSItem>& item, ItemState before, bool sendNow,
                                  Ids* collectedIds) {
  if (!item) return;
  // Each step reads the conversation's state afresh: reading its e-mails changes it.
  if (pref_manager_state_change_will_read_item() && !item->threadRead()) {
    if (auto emails = item->emails()) {
      for (const auto& email : *emails) {
        if (internalReadEmail(email, sendNow)) collect(collectedIds, email->id());
      }
    }
  }
  if (pref_manager_move_action_should_unstar_item() &&
      (before == ItemState::Inbox || item->state() == ItemState::Archive) && item->threadStarred()) {
    if (auto emails = item->emails()) {
      for (const auto& email : *emails) {
        if (internalUnstarEmail(email, sendNow)) collect(collectedIds, email->id());
      }
    }
  }
  if ((before == ItemState::Inbox || item->state() != ItemState::Inbox) && !item->deferRead()) {
    item->setDeferRead(true);
    internalSendItemChanges(item, {"deferRead"}, sendNow);
    collect(collectedIds, item->itemID());
  }
}

json_t* internalItemMeta(const std::shared_ptr<KSItem>& item, bool engaged) {
  json_t* meta = json_object();
  json_object_set_new(meta, "engaged", json_boolean(engaged));
  if (item->state() == ItemState::List) {
    if (std::shared_ptr<KSList> list = item->list()) {
      json_object_set_new(meta, "list_name", json_stringn(list->name().data(), list->name().size()));
    }
  }
  json_t* participants = json_object();
  json_object_set_new(participants, "to", item->originalRecipients());
  if (json_t* from = item->originalSender()) json_object_set_new(participants, "from", from);
  json_object_set_new(meta, "original_email_participants", participants);
  return meta;
}

void internalSendItemUpdate(const std::shared_ptr<KSItem>& item, const ChangeNames& names, bool engaged,
                            bool sendNow) {
  patch::JanssonPtr extra(json_object());
  json_object_set_new(extra.get(), "meta", internalItemMeta(item, engaged));
  patch::JanssonPtr changes(item->changesToJson(names));
  kestrun_object_server_client_update_item(changes.get(), extra.get(), sendNow);
}

void internalSendItemChanges(const std::shared_ptr<KSItem>& item, const ChangeNames& names, bool sendNow) {
  patch::JanssonPtr changes(item->changesToJson(names));
  kestrun_object_server_client_update_item(changes.get(), nullptr, sendNow);
}

void internalUpdateCounts(const std::shared_ptr<KSItem>& item, ItemState before, ItemState after) {
  // PREVIOUSSTATE is not the state before this change when the state did not change (it keeps
  // the one of an earlier change), so the counts go by the state read before the routine.
  if (before != after) counts_manager_update_counts_for_state_change(before, after, item->accountID());
}

}  // namespace libkestrun::internal
