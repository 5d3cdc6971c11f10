// Read-outs and counts of the facade: synchronous answers on the calling thread that never wait
// for the core thread.
//
// Store read-outs use the consumer context, which the core thread also uses (under the consumer
// center's mutex) to clear its object cache and re-run the live queries after every commit; each
// read-out holds that mutex while it uses the context, so it never overlaps such a pass. Count
// read-outs go to the counts manager, which reads under its own mutex.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api.h"
#include "core/data/consumer_center.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"

namespace libkestrun {

namespace {

// `read` against the consumer context, under the consumer center's mutex.
template <class Read>
auto with_consumer_context(Read read) {
  decltype(read(std::declval<DBContext&>())) result{};
  KestrunConsumerCenter::withDBContext([&](DBContext& db) { result = read(db); });
  return result;
}

// Each call of KSItem's count family takes the context last.
int count_with(int (*count)(KestrunContext*)) {
  return with_consumer_context([count](DBContext& db) { return count(&db); });
}

std::vector<std::shared_ptr<KSContact>> contacts_of(const KSObjects<KSContact>& contacts) {
  return contacts ? *contacts : std::vector<std::shared_ptr<KSContact>>();
}

}  // namespace

std::shared_ptr<KSItem> Api::item_with_id(const std::string& itemId) {
  return with_consumer_context([&](DBContext& db) { return db.fetchItem(itemId); });
}

std::shared_ptr<KSEmail> Api::email_with_id(const std::string& emailId) {
  return with_consumer_context([&](DBContext& db) { return db.fetchEmail(emailId); });
}

std::shared_ptr<KSList> Api::list_with_id(const std::string& listId) {
  return with_consumer_context([&](DBContext& db) { return db.fetchList(listId); });
}

std::shared_ptr<KSList> Api::list_with_name(const std::string& name) {
  return with_consumer_context([&](DBContext& db) { return KSList::fetchWithName(name, &db); });
}

std::shared_ptr<KSAutoSwipe> Api::auto_swipe_with_id(const std::string& autoSwipeId) {
  return with_consumer_context([&](DBContext& db) { return KSAutoSwipe::fetch(autoSwipeId, &db); });
}

std::shared_ptr<KSContact> Api::contact_with_id(const std::string& contactId) {
  return with_consumer_context([&](DBContext& db) { return KSContact::fetch(contactId, &db); });
}

std::shared_ptr<KSContact> Api::contact_with_email_address(const std::string& address) {
  return with_consumer_context([&](DBContext& db) { return KSContact::fetchForEmailAddress(address, &db); });
}

std::shared_ptr<KSContact> Api::contact_with_email_address_and_name(const std::string& address,
                                                                    const std::string& name) {
  return with_consumer_context(
      [&](DBContext& db) { return KSContact::fetchForAddressAndName(address, name, &db); });
}

std::vector<std::shared_ptr<KSContact>> Api::get_contacts_with_email_address(const std::string& address) {
  return contacts_of(
      with_consumer_context([&](DBContext& db) { return KSContact::contactsForEmailAddress(address, &db); }));
}

std::vector<std::shared_ptr<KSContact>> Api::get_contacts_matching_search_string(const std::string& text) {
  return contacts_of(with_consumer_context([&](DBContext& db) { return db.contactsMatching(text); }));
}

int Api::number_of_items() { return count_with(&KSItem::countItems); }

int Api::number_of_active_items() { return count_with(&KSItem::countInboxItems); }

int Api::number_of_active_items_for_account(const std::string& accountId) {
  return with_consumer_context(
      [&](DBContext& db) { return KSItem::countInboxItemsForAccount(accountId, &db); });
}

int Api::number_of_completed_items() { return count_with(&KSItem::countArchiveItems); }

int Api::get_number_of_deferred_emails() { return count_with(&KSItem::countLaterItems); }

int Api::number_of_items_in_list(const std::string& listId) {
  return with_consumer_context([&](DBContext& db) { return KSItem::countListItems(listId, &db); });
}

int Api::number_of_sent_items() { return count_with(&KSItem::countSentItems); }

int Api::number_of_auto_swipe_items() { return count_with(&KSItem::countAutoSwipedItems); }

int Api::number_of_draft_items() { return count_with(&KSItem::countItemsWithDrafts); }

ListNameStatus Api::get_status_of_potential_list_name(const std::string& name,
                                                      const std::string& changingListId) {
  return with_consumer_context(
      [&](DBContext& db) { return KSList::validateName(name, changingListId, &db); });
}

std::string Api::sanitize_potential_list_name(const std::string& name) { return KSList::normalizeName(name); }

std::string Api::get_email_id() { return KSEmail::generateID(); }

int Api::total_significant_active_count() { return managers_.counts_manager->totalSignificantActiveCount(); }

int Api::total_significant_completed_count() {
  return managers_.counts_manager->totalSignificantCompletedCount();
}

int Api::total_significant_deleted_count() {
  return managers_.counts_manager->totalSignificantDeletedCount();
}

int Api::total_significant_sent_count() { return managers_.counts_manager->totalSignificantSentCount(); }

int Api::total_significant_active_count_for_account(const std::string& accountId) {
  return managers_.counts_manager->totalSignificantActiveCountForAccount(accountId);
}

int Api::accumulate_active_count_for_all_accounts() {
  return managers_.counts_manager->accumulateActiveCountForAllAccounts();
}

int Api::total_list_count_for_list(const std::string& listName) {
  return managers_.counts_manager->totalListCountForList(listName);
}

int Api::total_significant_list_count_for_list(const std::string& listName) {
  return managers_.counts_manager->totalSignificantListCountForList(listName);
}

bool Api::active_is_exact() { return managers_.counts_manager->activeIsExact(); }

bool Api::completed_is_exact() { return managers_.counts_manager->completedIsExact(); }

bool Api::deleted_is_exact() { return managers_.counts_manager->deletedIsExact(); }

bool Api::sent_is_exact() { return managers_.counts_manager->sentIsExact(); }

bool Api::active_is_exact_for_account(const std::string& accountId) {
  return managers_.counts_manager->activeIsExactForAccount(accountId);
}

bool Api::list_is_exact_for_list(const std::string& listName) {
  return managers_.counts_manager->listIsExactForList(listName);
}

int Api::total_auto_swipe_count() { return managers_.counts_manager->totalAutoSwipeCount(); }

// Gmail reports list counts exactly for every list; any other account without an exact count of
// the list (or with none) makes the total a guess.
bool Api::has_non_gmail_account_with_nonexact_count_for_list(const std::string& listName) {
  EmailAccountList primaries = managers_.account_manager->allPrimaryEmailAccounts();
  if (!primaries) return false;
  for (const auto& account : *primaries) {
    if (account->emailType == EmailAccountType::Gmail) continue;
    if (!managers_.counts_manager->listIsExactForAccount(account->accountID, listName)) return true;
  }
  return false;
}

// While an archive-all runs the server's rounded count lags behind; the exact local count is
// the one the user expects to see.
int Api::get_email_count_for_account(const std::string& accountId) {
  if (managers_.counts_manager->activeIsExactForAccount(accountId) ||
      managers_.sync_status_manager->isArchiveAllOngoing())
    return managers_.counts_manager->activeCountForAccount(accountId);
  return managers_.counts_manager->totalSignificantActiveCountForAccount(accountId);
}

}  // namespace libkestrun
