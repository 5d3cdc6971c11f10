#include "core/services/counts_manager.h"

#include <cmath>
#include <cstdlib>

#include "core/foundation/process_instance.h"

namespace libkestrun {

const char* const kCountsUpdated = "com.kestrun.kscounts.counts.updated";
const char* const kAutoSwipeCountsProcessed = "com.kestrun.kscounts.auto.swipe.counts.processed";

namespace {

// A JSON number as a count; nothing for other values and numbers outside the 32-bit range.
std::optional<int32_t> countOf(const jsonette::Json& value) { return JsonKvStore::_json_get<int32_t>(value); }

}  // namespace

CountsManager::Bucket::Bucket(const std::string& countKey, const std::string& exactKey,
                              const std::shared_ptr<KvStore>& store)
    : counts(countKey, store, {}), exact(exactKey, store, {}) {
  recompute();
}

void CountsManager::Bucket::recompute() {
  allExact = true;
  for (const auto& [account, flag] : exact.get()) allExact = allExact && flag;
}

int CountsManager::Bucket::total() const {
  int sum = 0;
  for (const auto& [account, count] : counts.get()) sum += count;
  return sum;
}

CountsManager::CountsManager(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store)
    : notificationCenter_(std::move(center)),
      active_("kscounts.active.defaults.key", "kscounts.active.exact.defaults.key", store),
      completed_("kscounts.completed.defaults.key", "kscounts.completed.exact.defaults.key", store),
      deleted_("kscounts.deleted.defaults.key", "kscounts.deleted.exact.defaults.key", store),
      sent_("kscounts.sent.defaults.key", "kscounts.sent.exact.defaults.key", store),
      listCounts_("kscounts.lists.counts.defaults.key", store, {}),
      listExact_("kscounts.lists.exact.defaults.key", store, {}),
      archiveAutoSwipe_("kscounts.archive.auto.swipe.defaults.key", store, 0),
      deleteAutoSwipe_("kscounts.delete.auto.swipe.defaults.key", store, 0),
      deferAutoSwipe_("kscounts.defer.auto.swipe.defaults.key", store, 0),
      listAutoSwipe_("kscounts.list.auto.swipe.defaults.key", store, 0) {}

void CountsManager::post() {
  if (notificationCenter_) notificationCenter_->post_notification(kCountsUpdated, nullptr);
}

void CountsManager::setCount(Bucket& bucket, const std::string& accountID, int count, bool exact) {
  std::lock_guard<std::mutex> lock(mutex_);
  bucket.counts.set(accountID, count);
  bucket.exact.set(accountID, exact);
  bucket.recompute();
  post();
}

void CountsManager::setActiveCount(const std::string& accountID, int count, bool exact) {
  setCount(active_, accountID, count, exact);
}
void CountsManager::setCompletedCount(const std::string& accountID, int count, bool exact) {
  setCount(completed_, accountID, count, exact);
}
void CountsManager::setDeletedCount(const std::string& accountID, int count, bool exact) {
  setCount(deleted_, accountID, count, exact);
}
void CountsManager::setSentCount(const std::string& accountID, int count, bool exact) {
  setCount(sent_, accountID, count, exact);
}

void CountsManager::updateCounts(const jsonette::Json& counts, const std::string& accountID) {
  if (!counts.is_object() || accountID.empty()) return;
  using Setter = void (CountsManager::*)(const std::string&, int, bool);
  static const std::pair<const char*, Setter> kinds[] = {{"completed", &CountsManager::setCompletedCount},
                                                         {"active", &CountsManager::setActiveCount},
                                                         {"deleted", &CountsManager::setDeletedCount},
                                                         {"sent", &CountsManager::setSentCount}};
  for (const auto& [key, setter] : kinds) {
    const jsonette::Json& entry = counts[key];
    std::optional<int32_t> count = countOf(entry["count"]);
    if (!count) continue;
    const bool exact = entry["exact"].is_bool() && entry["exact"].bool_value();
    (this->*setter)(accountID, *count, exact);
  }
  updateListCounts(accountID, counts["lists"]);
}

void CountsManager::updateListCounts(const std::string& accountID, const jsonette::Json& lists) {
  std::lock_guard<std::mutex> lock(mutex_);
  CountMap counts;
  ExactMap exact;
  if (lists.is_array()) {
    for (const jsonette::Json& element : lists.array_items()) {
      const jsonette::Json& name = element["name"];
      std::optional<int32_t> count = countOf(element["count"]);
      if (!name.is_string() || !count) continue;
      counts[name.string_value()] = *count;
      exact[name.string_value()] = element["exact"].is_bool() && element["exact"].bool_value();
    }
  }
  listCounts_.set(accountID, std::move(counts));
  listExact_.set(accountID, std::move(exact));
}

void CountsManager::updateActiveCountIfExact(const std::string& accountID, int count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto flag = active_.exact.get().find(accountID);
    if (flag == active_.exact.get().end() || !flag->second) return;
  }
  setActiveCount(accountID, count, true);
}

CountsManager::Bucket* CountsManager::movableBucket(ItemState state, const std::string& accountID) {
  Bucket* bucket = nullptr;
  switch (state) {
    case ItemState::Inbox:
      bucket = &active_;
      break;
    case ItemState::Archive:
      bucket = &completed_;
      break;
    case ItemState::Trash:
      bucket = &deleted_;
      break;
    default:
      return nullptr;
  }
  const bool reported = bucket->exact.get().count(accountID) != 0;
  if (reported && snapshotAccount_ == accountID) return nullptr;
  return bucket;
}

void CountsManager::updateCountsForStateChange(ItemState from, ItemState to, const std::string& accountID) {
  if (from == to) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (Bucket* bucket = movableBucket(from, accountID)) {
    auto count = bucket->counts.get().find(accountID);
    if (count != bucket->counts.get().end() && count->second > 0)
      bucket->counts.set(accountID, count->second - 1);
  }
  if (Bucket* bucket = movableBucket(to, accountID)) {
    auto count = bucket->counts.get().find(accountID);
    bucket->counts.set(accountID, count == bucket->counts.get().end() ? 1 : count->second + 1);
  }
  post();
}

void CountsManager::beginSnapshot(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  snapshotAccount_ = accountID;
}

void CountsManager::endSnapshot() {
  std::lock_guard<std::mutex> lock(mutex_);
  snapshotAccount_.reset();
}

void CountsManager::removeCountsForAccount(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Bucket* bucket : {&active_, &completed_, &deleted_, &sent_}) {
    bucket->counts.erase(accountID);
    bucket->exact.erase(accountID);
    bucket->recompute();
  }
  listCounts_.erase(accountID);
  listExact_.erase(accountID);
  post();
}

void CountsManager::clearActiveCounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  active_.counts.clear();
  active_.exact.clear();
  active_.recompute();
  post();
}

void CountsManager::resetActiveCountForAccount(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_.counts.set(accountID, 0);
  active_.exact.set(accountID, true);
  active_.recompute();
  post();
}

void CountsManager::clearAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Durable<int32_t>* total : {&archiveAutoSwipe_, &deleteAutoSwipe_, &deferAutoSwipe_, &listAutoSwipe_})
    *total = 0;
  for (Bucket* bucket : {&active_, &completed_, &deleted_, &sent_}) {
    bucket->counts.clear();
    bucket->exact.clear();
    bucket->recompute();
  }
  listCounts_.clear();
  listExact_.clear();
  post();
}

void CountsManager::processAutoSwipeCounts(const jsonette::Json& totals) {
  if (!totals.is_object()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [key, value] : totals.object_items()) {
    std::optional<int32_t> total = countOf(value);
    if (!total) continue;
    // The key's leading decimal integer is an item state.
    switch (static_cast<ItemState>(std::strtol(key.c_str(), nullptr, 10))) {
      case ItemState::Later:
        deferAutoSwipe_ = *total;
        break;
      case ItemState::Archive:
        archiveAutoSwipe_ = *total;
        break;
      case ItemState::Trash:
        deleteAutoSwipe_ = *total;
        break;
      case ItemState::List:
        listAutoSwipe_ = *total;
        break;
      default:
        break;
    }
  }
}

int CountsManager::total(const Bucket& bucket) {
  std::lock_guard<std::mutex> lock(mutex_);
  return bucket.total();
}

bool CountsManager::isExact(const Bucket& bucket) {
  std::lock_guard<std::mutex> lock(mutex_);
  return bucket.allExact || bucket.total() == 0;
}

int CountsManager::totalActiveCount() { return total(active_); }
int CountsManager::totalCompletedCount() { return total(completed_); }
int CountsManager::totalDeletedCount() { return total(deleted_); }
int CountsManager::totalSentCount() { return total(sent_); }
int CountsManager::totalSignificantActiveCount() { return roundToSignificantDigits(totalActiveCount(), 2); }
int CountsManager::totalSignificantCompletedCount() {
  return roundToSignificantDigits(totalCompletedCount(), 2);
}
int CountsManager::totalSignificantDeletedCount() { return roundToSignificantDigits(totalDeletedCount(), 2); }
int CountsManager::totalSignificantSentCount() { return roundToSignificantDigits(totalSentCount(), 2); }
bool CountsManager::activeIsExact() { return isExact(active_); }
bool CountsManager::completedIsExact() { return isExact(completed_); }
bool CountsManager::deletedIsExact() { return isExact(deleted_); }
bool CountsManager::sentIsExact() { return isExact(sent_); }

int CountsManager::activeCountForAccount(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto count = active_.counts.get().find(accountID);
  return count == active_.counts.get().end() ? 0 : count->second;
}

int CountsManager::totalSignificantActiveCountForAccount(const std::string& accountID) {
  return roundToSignificantDigits(activeCountForAccount(accountID), 2);
}

bool CountsManager::activeIsExactForAccount(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto flag = active_.exact.get().find(accountID);
  return flag != active_.exact.get().end() && flag->second;
}

int CountsManager::accumulateActiveCountForAllAccounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  int sum = 0;
  for (const auto& [account, count] : active_.counts.get()) {
    auto flag = active_.exact.get().find(account);
    const bool exact = flag != active_.exact.get().end() && flag->second;
    sum += exact ? count : roundToSignificantDigits(count, 2);
  }
  return sum;
}

int CountsManager::totalListCountForList(const std::string& listName) {
  std::lock_guard<std::mutex> lock(mutex_);
  int sum = 0;
  for (const auto& [account, lists] : listCounts_.get()) {
    auto count = lists.find(listName);
    if (count != lists.end()) sum += count->second;
  }
  return sum;
}

int CountsManager::totalSignificantListCountForList(const std::string& listName) {
  return roundToSignificantDigits(totalListCountForList(listName), 2);
}

bool CountsManager::listIsExactForList(const std::string& listName) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [account, lists] : listExact_.get()) {
    auto flag = lists.find(listName);
    if (flag != lists.end() && !flag->second) return false;
  }
  return true;
}

bool CountsManager::listIsExactForAccount(const std::string& accountID, const std::string& listName) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto lists = listExact_.get().find(accountID);
  if (lists == listExact_.get().end()) return false;
  auto flag = lists->second.find(listName);
  return flag != lists->second.end() && flag->second;
}

int CountsManager::archiveAutoSwipeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return archiveAutoSwipe_.get();
}
int CountsManager::deleteAutoSwipeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return deleteAutoSwipe_.get();
}
int CountsManager::deferAutoSwipeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return deferAutoSwipe_.get();
}
int CountsManager::listAutoSwipeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return listAutoSwipe_.get();
}
int CountsManager::totalAutoSwipeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return deleteAutoSwipe_.get() + archiveAutoSwipe_.get() + deferAutoSwipe_.get() + listAutoSwipe_.get();
}

int CountsManager::roundToSignificantDigits(int value, int digits) {
  if (value == 0) return 0;
  const int exponent = static_cast<int>(std::ceil(std::log10(std::fabs(static_cast<double>(value)))));
  if (exponent <= digits) return value;
  // The dropped digits are rounded off in integers: dividing by an inexact negative power of ten
  // and truncating turns 1,000,001 into 999,999.
  int64_t unit = 1;
  for (int i = digits; i < exponent; ++i) unit *= 10;
  const int64_t magnitude = std::llabs(static_cast<int64_t>(value));
  const int64_t rounded = (magnitude + unit / 2) / unit * unit;  // halves away from zero
  return static_cast<int>(value < 0 ? -rounded : rounded);
}

namespace {
ProcessInstance<CountsManager> instance;
}  // namespace

void counts_manager_set_instance(std::shared_ptr<CountsManager> manager) { instance.set(std::move(manager)); }

void counts_manager_set_active_count(const std::string& accountID, int count, bool exact) {
  instance.call(&CountsManager::setActiveCount, accountID, count, exact);
}
void counts_manager_set_completed_count(const std::string& accountID, int count, bool exact) {
  instance.call(&CountsManager::setCompletedCount, accountID, count, exact);
}
void counts_manager_set_deleted_count(const std::string& accountID, int count, bool exact) {
  instance.call(&CountsManager::setDeletedCount, accountID, count, exact);
}
void counts_manager_set_sent_count(const std::string& accountID, int count, bool exact) {
  instance.call(&CountsManager::setSentCount, accountID, count, exact);
}
void counts_manager_remove_counts_for_account(const std::string& accountID) {
  instance.call(&CountsManager::removeCountsForAccount, accountID);
}
void counts_manager_update_counts_for_state_change(ItemState from, ItemState to,
                                                   const std::string& accountID) {
  instance.call(&CountsManager::updateCountsForStateChange, from, to, accountID);
}
void counts_manager_begin_snapshot(const std::string& accountID) {
  instance.call(&CountsManager::beginSnapshot, accountID);
}
void counts_manager_end_snapshot() { instance.call(&CountsManager::endSnapshot); }
void counts_manager_clear_active_counts() { instance.call(&CountsManager::clearActiveCounts); }
void counts_manager_reset_active_count_for_account(const std::string& accountID) {
  instance.call(&CountsManager::resetActiveCountForAccount, accountID);
}
int counts_manager_total_active_count() { return instance.call(&CountsManager::totalActiveCount); }
int counts_manager_total_significant_active_count() {
  return instance.call(&CountsManager::totalSignificantActiveCount);
}
bool counts_manager_active_is_exact() { return instance.call(&CountsManager::activeIsExact); }
int counts_manager_total_completed_count() { return instance.call(&CountsManager::totalCompletedCount); }
int counts_manager_total_significant_completed_count() {
  return instance.call(&CountsManager::totalSignificantCompletedCount);
}
bool counts_manager_completed_is_exact() { return instance.call(&CountsManager::completedIsExact); }
int counts_manager_total_deleted_count() { return instance.call(&CountsManager::totalDeletedCount); }
int counts_manager_total_significant_deleted_count() {
  return instance.call(&CountsManager::totalSignificantDeletedCount);
}
bool counts_manager_deleted_is_exact() { return instance.call(&CountsManager::deletedIsExact); }
int counts_manager_total_sent_count() { return instance.call(&CountsManager::totalSentCount); }
int counts_manager_total_significant_sent_count() {
  return instance.call(&CountsManager::totalSignificantSentCount);
}
bool counts_manager_sent_is_exact() { return instance.call(&CountsManager::sentIsExact); }
int counts_manager_active_count_for_account(const std::string& accountID) {
  return instance.call(&CountsManager::activeCountForAccount, accountID);
}
int counts_manager_total_significant_active_count_for_account(const std::string& accountID) {
  return instance.call(&CountsManager::totalSignificantActiveCountForAccount, accountID);
}
int counts_manager_accumulate_active_count_for_all_accounts() {
  return instance.call(&CountsManager::accumulateActiveCountForAllAccounts);
}
bool counts_manager_active_is_exact_for_account(const std::string& accountID) {
  return instance.call(&CountsManager::activeIsExactForAccount, accountID);
}
int counts_manager_total_list_count_for_list(const std::string& listName) {
  return instance.call(&CountsManager::totalListCountForList, listName);
}
int counts_manager_total_significant_list_count_for_list(const std::string& listName) {
  return instance.call(&CountsManager::totalSignificantListCountForList, listName);
}
bool counts_manager_list_is_exact_for_list(const std::string& listName) {
  return instance.call(&CountsManager::listIsExactForList, listName);
}

}  // namespace libkestrun
