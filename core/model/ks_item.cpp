#include "core/model/ks_item.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "core/accounts/user_manager.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_email.h"
#include "core/model/ks_list.h"
#include "localization/localization.h"

namespace {

const char kDraftItemPrefix[] = "draft_item_";

}  // namespace

KSItem::KSItem(KestrunContext* context) : DBKestrunObject(context, false) {
  setDefaults();
  registerChangeListener();
}

KSItem::KSItem(KestrunContext* context, CppSQLite3Query& query)
    : DBKestrunObject(context, true), row_(query) {
  registerChangeListener();
}

KSItem::KSItem(KestrunContext* context, const libkestrun::internal::Item& row)
    : DBKestrunObject(context, false), row_(row) {
  clearChangedFields();
  registerChangeListener();
}

void KSItem::registerChangeListener() {
  // Unlike the other classes the item reports its first change whether or not it has an id yet.
  row_.row.change_callback = [this] { reportFirstChange(changedColumnCount()); };
}

void KSItem::setDefaults() {
  using namespace libkestrun;
  const std::string loading =
      LOCALIZED_STRING("Loading...", "SHORT, string indicating that the message is loading");
  row_.set_AUTOSWIPEFIELD(AutoSwipeField{0});
  row_.set_AUTOSWIPEITEMSTATE(ItemState::None);
  row_.set_AUTOSWIPESTATE(AutoSwipeRuleState::None);
  row_.set_CREATEDAT(unsetTime);
  row_.set_DEFERRALBUCKET(DeferralBucket{22});
  row_.set_DEFERRALTYPE(DeferralType::NotDeferred);
  row_.set_DEFERREAD(true);
  row_.set_EMAILCOUNT(0);
  row_.set_MASTERREV(static_cast<double>(unsetTime));
  row_.set_MODIFIEDAT(unsetTime);
  row_.set_PREVIOUSSTATE(ItemState::None);
  row_.set_REMINDAT(unsetTime);
  row_.set_SAVEDAT(unsetTime);
  row_.set_SNOOZETYPE(SnoozeType::None);
  row_.set_STATE(ItemState::None);
  row_.set_SUBJECT(loading);
  row_.set_THREADHASATTACHMENTS(false);
  row_.set_THREADPREVIEW(loading);
  row_.set_THREADREAD(true);
  row_.set_THREADSTARRED(false);
  row_.set_THREADSTARREDCOUNT(0);
  row_.set_THREADTIMESTAMP(unsetTime);
  row_.set_THREADUNREADCOUNT(0);
  row_.set_THREADUNSENTCOUNT(0);
  row_.set_TYPE(ItemType::Default);
  clearChangedFields();
}

std::shared_ptr<KSItem> KSItem::fetch(const std::string& itemID, KestrunContext* context) {
  if (!context->itemExists(itemID)) return nullptr;
  return context->fetchItem(itemID);
}

void KSItem::save() {
  if (isInserted()) {
    context()->insertItem(row_);
  } else if (isUpdated()) {
    context()->updateItem(row_);
  } else if (isDeleted()) {
    context()->removeItem(row_.get_ITEMID());
  }
  // The parsed participants serve the e-mails folded in within one transaction; kept for every
  // cached item they would cost more memory than parsing again.
  parsedSenders_ = {};
  parsedReceivers_ = {};
}

void KSItem::setItemID(std::string id) {
  if (row_.get_ITEMID() == id) return;
  row_.set_ITEMID(std::move(id));
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self) context()->objectChanged(self);
}

void KSItem::setMasterRev(int64_t rev) {
  if (masterRev() == rev) return;
  row_.set_MASTERREV(static_cast<double>(rev));
}

void KSItem::setState(ItemState state) {
  if (row_.get_STATE() == state) return;
  setPreviousState(row_.get_STATE());
  row_.set_STATE(state);
  if (state == ItemState::List) return;
  if (auto filedIn = list()) filedIn->removeItem(std::static_pointer_cast<KSItem>(shared_from_this()));
}

void KSItem::promoteSearchOnlyItem() {
  if (masterRev() == kSearchOnlyMasterRev) setMasterRev(masterRev() + 100);
}

std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> KSItem::emails() {
  if (!emails_ && !itemID().empty()) emails_ = context()->emailsForItem(itemID());
  return emails_;
}

std::shared_ptr<std::vector<libkestrun::internal::Draft>> KSItem::drafts() {
  if (drafts_ || itemID().empty()) return drafts_;
  auto drafts = context()->draftsForItem(itemID());
  const std::string id = itemID();
  if (id.starts_with(kDraftItemPrefix)) {
    if (auto own = context()->fetchDraft(id.substr(sizeof(kDraftItemPrefix) - 1))) {
      if (!drafts) drafts = std::make_shared<std::vector<libkestrun::internal::Draft>>();
      drafts->push_back(std::move(*own));
      std::sort(drafts->begin(), drafts->end(), [](const auto& a, const auto& b) {
        return std::tie(a.get_modified_at(), a.get_draft_id()) <
               std::tie(b.get_modified_at(), b.get_draft_id());
      });
    }
  }
  drafts_ = std::move(drafts);
  return drafts_;
}

std::shared_ptr<KSAccountList> KSItem::accountList() {
  std::shared_ptr<KSAccountList> cached = accountList_.lock();
  const std::string& id = row_.get_MACCOUNTLISTID();
  if (!cached && !id.empty()) {
    cached = context()->fetchAccountList(id);
    accountList_ = cached;
  }
  return cached;
}

std::shared_ptr<KSList> KSItem::list() {
  std::shared_ptr<KSList> cached = list_.lock();
  const std::string& id = row_.get_MLISTID();
  if (!cached && !id.empty()) {
    cached = context()->fetchList(id);
    list_ = cached;
  }
  return cached;
}

void KSItem::setAccountList(std::shared_ptr<KSAccountList> accountList) {
  row_.set_MACCOUNTLISTID(accountList ? accountList->listID() : std::string());
  accountList_ = std::move(accountList);
}

void KSItem::setList(std::shared_ptr<KSList> list) {
  row_.set_MLISTID(list ? list->listID() : std::string());
  list_ = std::move(list);
}

std::shared_ptr<KSAutoSwipe> KSItem::autoSwipe() {
  const std::string& id = row_.get_MAUTOSWIPEID();
  if (!autoSwipe_ && !id.empty()) autoSwipe_ = context()->fetchAutoSwipe(id);
  return autoSwipe_;
}

void KSItem::setAutoSwipe(const std::shared_ptr<KSAutoSwipe>& rule) {
  using libkestrun::AutoSwipeRuleState;
  autoSwipe_ = rule;
  if (!rule) {
    row_.set_MAUTOSWIPEID("");
    return;
  }
  row_.set_MAUTOSWIPEID(rule->autoSwipeID());
  row_.set_AUTOSWIPEFIELD(rule->field());
  row_.set_AUTOSWIPEITEMSTATE(rule->itemState());
  if (rule->userID() == libkestrun::user_manager_get_user_id()) {
    row_.set_AUTOSWIPESTATE(rule->state());
  } else {
    row_.set_AUTOSWIPESTATE(rule->state() == AutoSwipeRuleState::Active
                                ? AutoSwipeRuleState::SwipedByOtherUser
                                : AutoSwipeRuleState::None);
  }
}

std::shared_ptr<KSItem> KSItem::copyToContext(const std::string& searchID, KestrunContext* target,
                                              bool withEmails) {
  target->insertItem(row_);
  std::shared_ptr<KSItem> copy = target->fetchItem(itemID());
  if (!copy) return nullptr;
  if (!searchID.empty()) copy->setSearchID(searchID);
  if (withEmails) {
    auto copies = std::make_shared<std::vector<std::shared_ptr<KSEmail>>>();
    if (auto originals = emails()) {
      for (const auto& email : *originals) {
        target->insertEmail(*email);
        if (auto fetched = target->fetchEmail(email->id())) copies->push_back(std::move(fetched));
      }
    }
    copy->emails_ = std::move(copies);
  }
  return copy;
}
