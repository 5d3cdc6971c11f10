#include "core/data/background_writer.h"

#include <memory>
#include <utility>

#include "core/foundation/utility.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/services/attachment_manager.h"
#include "core/services/email_resource_manager.h"

namespace {

using Ids = std::vector<std::string>;

void purgeAccount(const std::string& accountID, bool keepDrafts, DBContext& context) {
  // Only this account's files: the attachment tree also holds the other accounts' files and the
  // user's own attachments of mail not sent yet.
  libkestrun::attachment_manager_remove_attachments_for_account(accountID);
  libkestrun::email_resource_manager_remove_queued_uploads_for_account(accountID);
  if (auto accountLists = KSAccountList::accountListsForAccount(accountID, &context)) {
    for (const auto& accountList : *accountLists) {
      KSList::deleteList(accountList, accountList->parentList(), &context);
      context.deleteObject(accountList);
    }
  }
  if (auto items = KSItem::itemsForAccount(accountID, &context)) {
    for (const auto& item : *items) KSItem::purge(item, &context, keepDrafts);
  }
}

}  // namespace

void KestrunDataBackgroundWriter::purgeAllDataForAccounts(const std::vector<std::string>& accountIDs,
                                                          const std::optional<std::string>& userID,
                                                          bool keepDrafts, Completion completion) {
  KestrunDataCenter::performNormalDataTask(
      [accountIDs, userID, keepDrafts](Ids&, DBContext& context) {
        for (const auto& accountID : accountIDs) purgeAccount(accountID, keepDrafts, context);
        if (userID) {
          context.removeDraftsForUser(*userID);
          context.removeAutoSwipesForUser(*userID);
        }
      },
      nullptr, std::move(completion));
}

void KestrunDataBackgroundWriter::purgeAllDataForAccounts(const std::vector<std::string>& accountIDs,
                                                          Completion completion) {
  purgeAllDataForAccounts(accountIDs, std::nullopt, false, std::move(completion));
}

void KestrunDataBackgroundWriter::purgeAllDataForAccount(const std::string& accountID,
                                                         Completion completion) {
  purgeAllDataForAccounts({accountID}, std::move(completion));
}

void KestrunDataBackgroundWriter::createContactsFromList(json_t* contacts, Completion completion) {
  if (contacts == nullptr) return;
  // Released when the task is done with it, or dropped unrun.
  std::shared_ptr<json_t> held(json_incref(contacts), json_decref);
  KestrunDataCenter::performNormalDataTask(
      [held](Ids&, DBContext& context) {
        // The size is read on every pass, as the walk's bound.
        for (size_t i = 0; i < json_array_size(held.get()); ++i) {
          json_t* person = json_array_get(held.get(), i);
          if (json_is_object(person)) KSContact::findOrCreate(person, &context);
        }
      },
      nullptr, std::move(completion));
}

void KestrunDataBackgroundWriter::purgeStaleData(Completion completion) {
  KestrunDataCenter::performLowPriorityDataTask(
      [](Ids&, DBContext& context) {
        if (auto items = KSItem::itemsToPurge(&context)) {
          for (const auto& item : *items) KSItem::purge(item, &context, false);
        }
        if (auto rules = KSAutoSwipe::orphans(&context)) {
          for (const auto& rule : *rules) context.deleteObject(rule);
        }
      },
      nullptr, std::move(completion));
}

void KestrunDataBackgroundWriter::classifyAllTimeDeferredItems(Completion completion) {
  KestrunDataCenter::performLowPriorityDataTask(
      [](Ids&, DBContext& context) {
        auto items = KSItem::laterItems(&context);
        if (!items) return;
        const int64_t now = libkestrun::Utility::now_ms();
        for (const auto& item : *items) item->updateDeferralBucket(now);
      },
      nullptr, std::move(completion));
}
