// Contacts for address completion, and the user's decisions about auto-swipe rules.
#include <jansson.h>

#include <utility>

#include "core/accounts/user_manager.h"
#include "core/data/data_writer_routines.h"
#include "core/foundation/json_conversion.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_list.h"
#include "core/services/offline_manager.h"
#include "core/sync/auto_swipe_server_client.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

namespace {

bool isCurrentUsers(const KSAutoSwipe& rule) { return rule.userID() == user_manager_get_user_id(); }

void sendDecision(KSAutoSwipe& rule, AutoSwipeDecisionAction action, int count) {
  json_t* document = rule.toJson();
  auto_swipe_server_client_send_auto_swipe_decision(static_cast<int>(action), count, rule.userID(),
                                                    patch::json_from_jansson(document));
  json_decref(document);
}

// Moves one item of an accepted rule to the rule's destination; true when the item changed.
bool swipeToDestination(const std::shared_ptr<KSItem>& item, const KSAutoSwipe& rule,
                        const std::shared_ptr<KSList>& list, const jsonette::Json& deferral,
                        DeferralType deferralType, Ids* collected, DBContext& context) {
  switch (rule.itemState()) {
    case ItemState::Archive:
      return internalCompleteItem(item, false, collected, false, true);
    case ItemState::Trash:
      return internalDeleteItem(item, false, collected, false, true);
    case ItemState::List:
      // A list that no longer exists leaves the item where it is.
      return internalAssociateItemWithList(item, list, false, collected, context, false, true);
    case ItemState::Later:
      if (deferralType == DeferralType::BySnooze && deferral["snooze_type"].is_number()) {
        return internalSnoozeDeferItem(item, static_cast<SnoozeType>(deferral["snooze_type"].int_value()), 0,
                                       false, collected, false, true);
      }
      if (deferralType == DeferralType::UntilTime && deferral["remind_at"].is_number()) {
        return internalDeferItemByTime(item, static_cast<int64_t>(deferral["remind_at"].number_value()),
                                       SnoozeType::None, false, collected, false, true);
      }
      return false;
    default:
      return false;
  }
}

void activate(const std::string& itemId, DBContext& context) {
  std::shared_ptr<KSItem> item = internalFetchItem(itemId, context);
  if (!item) return;
  std::shared_ptr<KSAutoSwipe> rule = item->autoSwipe();
  if (!rule || !isCurrentUsers(*rule)) return;
  rule->setState(AutoSwipeRuleState::Active);
  std::shared_ptr<KSList> list;
  if (!rule->listName().empty()) list = KSList::fetchWithName(rule->listName(), &context);

  jsonette::Json deferral;
  DeferralType deferralType = DeferralType::NotDeferred;
  if (!rule->deferralData().empty()) {
    std::string error;
    deferral = jsonette::Json::parse(rule->deferralData(), error);
    deferralType = rule->deferralType();
  }

  Ids collected;
  int visited = 0;
  KSObjects<KSItem> items = rule->items();
  for (const auto& member : *items) {
    ++visited;
    member->setAutoSwipeState(AutoSwipeRuleState::Active);
    if (swipeToDestination(member, *rule, list, deferral, deferralType, &collected, context))
      collected.push_back(member->itemID());
  }
  sendDecision(*rule, AutoSwipeDecisionAction::Accepted, visited);
  sendCollected(collected);
}

// The rule of the document, with the item moved to it from its old rule.
void createRule(json_t* document, const std::string& itemId, Ids& ids, DBContext& context) {
  auto rule = std::static_pointer_cast<KSAutoSwipe>(
      KestrunContext::applyServerDocument(document, "auto_swipe", "_id", &context));
  if (!rule) return;
  if (std::shared_ptr<KSItem> item = internalFetchItem(itemId, context)) {
    if (auto previous = item->autoSwipe()) previous->removeItem(item);
    rule->addItem(item);
    internalSendItemChanges(item, {"autoSwipeData"}, true);
  }
  ids.push_back(rule->autoSwipeID());
}

}  // namespace

void internalIgnoreAutoSwipe(const std::shared_ptr<KSAutoSwipe>& rule, AutoSwipeDecisionAction action,
                             bool sendNow, Ids* collectedIds) {
  if (!rule || !isCurrentUsers(*rule)) return;
  sendDecision(*rule, action, 0);
  rule->setState(AutoSwipeRuleState::Ignored);
  KSObjects<KSItem> items = rule->items();
  for (const auto& item : *items) {
    item->setAutoSwipeState(AutoSwipeRuleState::Ignored);
    internalSendItemChanges(item, {"autoSwipeData"}, sendNow);
    collect(collectedIds, item->itemID());
    rule->removeItem(item);
  }
}

}  // namespace libkestrun::internal

using namespace libkestrun::internal;

void KestrunDataWriter::addContact(const std::string& emailAddress, const std::string& name,
                                   Completion completion) {
  performWriterTask(
      [emailAddress, name](Ids& ids, DBContext& context) {
        json_t* person = json_object();
        json_object_set_new(person, "address", json_stringn(emailAddress.data(), emailAddress.size()));
        if (!name.empty()) json_object_set_new(person, "name", json_stringn(name.data(), name.size()));
        if (auto contact = KSContact::findOrCreate(person, &context)) ids.push_back(contact->contactID());
        json_decref(person);
      },
      std::move(completion));
}

void KestrunDataWriter::updateContactAsPriority(const std::string& emailAddress, bool priority,
                                                Completion completion) {
  performWriterTask(
      [emailAddress, priority](Ids&, DBContext& context) {
        auto contacts = KSContact::contactsForEmailAddress(emailAddress, &context);
        if (!contacts) return;
        for (const auto& contact : *contacts) contact->setIsPriorityAccess(priority);
      },
      std::move(completion));
}

void KestrunDataWriter::createAutoSwipe(const std::string& itemId, libkestrun::AutoSwipeField field,
                                        const std::string& value, const std::string& auxiliaryInfo,
                                        libkestrun::ItemState destination, libkestrun::SnoozeType snoozeType,
                                        int64_t remindAt, const std::string& listName,
                                        Completion completion) {
  auto task = [=](Ids& ids, DBContext& context) {
    const std::string userID = libkestrun::user_manager_get_user_id();
    if (userID.empty()) return;
    json_t* document = KSAutoSwipe::makeDocument(userID, field, value, auxiliaryInfo, destination, snoozeType,
                                                 remindAt, listName);
    createRule(document, itemId, ids, context);
    json_decref(document);
  };
  // The activation is queued only after the rule's commit, so it sees the committed rule.
  auto activation = [itemId, completion = std::move(completion)](Ids&) {
    activateAutoSwipeForItem(itemId, completion);
  };
  KestrunDataCenter::performDataTask(std::move(task), KSDataTaskBlockPriorityNormal, nullptr,
                                     std::move(activation));
}

void KestrunDataWriter::activateAutoSwipeForItem(const std::string& itemId, Completion completion) {
  KestrunDataCenter::performDataTask([itemId](Ids&, DBContext& context) { activate(itemId, context); },
                                     KSDataTaskBlockPriorityNormal, nullptr, std::move(completion));
}

void KestrunDataWriter::ignoreAutoSwipeForItem(const std::string& itemId, Completion completion) {
  KestrunDataCenter::performDataTask(
      [itemId](Ids&, DBContext& context) {
        if (std::shared_ptr<KSItem> item = internalFetchItem(itemId, context)) {
          internalIgnoreAutoSwipe(item->autoSwipe(), libkestrun::AutoSwipeDecisionAction::TurnedDown, true,
                                  nullptr);
        }
      },
      KSDataTaskBlockPriorityNormal, nullptr, std::move(completion));
}

void KestrunDataWriter::disableAutoSwipe(const std::string& autoSwipeId, Completion completion) {
  KestrunDataCenter::performDataTask(
      [autoSwipeId](Ids&, DBContext& context) {
        internalIgnoreAutoSwipe(context.fetchAutoSwipe(autoSwipeId),
                                libkestrun::AutoSwipeDecisionAction::SwitchedOff, true, nullptr);
      },
      KSDataTaskBlockPriorityNormal, nullptr, std::move(completion));
}
