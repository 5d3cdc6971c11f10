// The server-side counts of each mail account: conversations in the inbox ("active"), the archive
// ("completed"), the trash ("deleted"), sent, and in each list, each with a flag telling whether
// the server knows it exactly. Server status documents overwrite an account's counts; local state
// changes move one count between the inbox, archive and trash buckets so the numbers stay roughly
// current in between. Totals are answered exact or rounded to two significant digits. The user's
// four auto-swipe totals are kept beside them.
//
// An account snapshot restates what the server holds, and the status document that comes with it
// already counts those conversations. So while a snapshot of an account is applied, its state
// changes leave alone every count the server has reported for that account (one with an exact
// flag, true or false): the snapshot's conversations are not counted a second time. Counts the
// server has not reported yet still move, so a new account shows an estimate until its status.
//
// Every value is a durable JSON value under its own key, rewritten whole on each change and
// restored at construction. Changes post kCountsUpdated (JSON null), while the mutex is held:
// posting only queues the delivery.
//
// Threads: writers run on the core thread, getters anywhere. mutex_ guards every member below it;
// it is not recursive, so updateCounts and updateActiveCountIfExact take it only inside the
// setters they call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/foundation/durable.h"
#include "core/foundation/notification_center.h"
#include "core/store/model_enums.h"
#include "jsonette/json.h"

namespace libkestrun {

extern const char* const kCountsUpdated;             // "com.kestrun.kscounts.counts.updated"
extern const char* const kAutoSwipeCountsProcessed;  // "com.kestrun.kscounts.auto.swipe.counts.processed"

class CountsManager {
 public:
  // Restores every value from `store`. Without a centre nothing is posted (the recording
  // stand-ins of tests pass none).
  CountsManager(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store);
  CountsManager(const CountsManager&) = delete;
  CountsManager& operator=(const CountsManager&) = delete;
  virtual ~CountsManager() = default;

  // An account status document's "counts": each of "completed", "active", "deleted" and "sent"
  // with a number "count" (and "exact", false unless a boolean true) is stored through its setter;
  // then the "lists" array replaces the account's list counts. Malformed parts are skipped.
  virtual void updateCounts(const jsonette::Json& counts, const std::string& accountID);
  virtual void setActiveCount(const std::string& accountID, int count, bool exact);
  virtual void setCompletedCount(const std::string& accountID, int count, bool exact);
  virtual void setDeletedCount(const std::string& accountID, int count, bool exact);
  virtual void setSentCount(const std::string& accountID, int count, bool exact);
  // Replaces the account's list counts and flags whole with the elements of `lists` that have a
  // string "name" and a number "count". Posts nothing.
  virtual void updateListCounts(const std::string& accountID, const jsonette::Json& lists);
  // Stores `count` as exact when the account's active count is known exactly; otherwise nothing.
  virtual void updateActiveCountIfExact(const std::string& accountID, int count);
  // Moves one conversation of the account from the bucket of `from` to that of `to` (2 active,
  // 3 completed, 4 deleted; other states have none); a count never drops below 0. Equal states
  // do nothing; different ones always post. During a snapshot of the account, counts the server
  // reported stay as they are.
  virtual void updateCountsForStateChange(ItemState from, ItemState to, const std::string& accountID);
  // Bracket the application of an account snapshot (one data task on the core thread).
  virtual void beginSnapshot(const std::string& accountID);
  virtual void endSnapshot();
  virtual void removeCountsForAccount(const std::string& accountID);
  // Forgets every account's active count and flag (an archive-all of every account).
  virtual void clearActiveCounts();
  // The account's active count becomes 0, known exactly (an archive-all of that account).
  virtual void resetActiveCountForAccount(const std::string& accountID);
  virtual void clearAll();
  // The auto-swipe rules response's "user" object: keys are item states ("1" defer, "3" archive,
  // "4" delete, "5" list), values the totals. Posts nothing.
  virtual void processAutoSwipeCounts(const jsonette::Json& totals);

  virtual int totalActiveCount();
  virtual int totalCompletedCount();
  virtual int totalDeletedCount();
  virtual int totalSentCount();
  virtual int totalSignificantActiveCount();
  virtual int totalSignificantCompletedCount();
  virtual int totalSignificantDeletedCount();
  virtual int totalSignificantSentCount();
  // True when every account's flag is true, or when the total is 0.
  virtual bool activeIsExact();
  virtual bool completedIsExact();
  virtual bool deletedIsExact();
  virtual bool sentIsExact();
  virtual int activeCountForAccount(const std::string& accountID);
  virtual int totalSignificantActiveCountForAccount(const std::string& accountID);
  // False for an account without a count.
  virtual bool activeIsExactForAccount(const std::string& accountID);
  // Per account the exact count where its flag is true, else the rounded one; summed.
  virtual int accumulateActiveCountForAllAccounts();
  virtual int totalListCountForList(const std::string& listName);
  virtual int totalSignificantListCountForList(const std::string& listName);
  // False when some account reports the list inexact; true otherwise, also when none reports it.
  virtual bool listIsExactForList(const std::string& listName);
  // True only when the account reports the list as exact.
  virtual bool listIsExactForAccount(const std::string& accountID, const std::string& listName);
  virtual int archiveAutoSwipeCount();
  virtual int deleteAutoSwipeCount();
  virtual int deferAutoSwipeCount();
  virtual int listAutoSwipeCount();
  virtual int totalAutoSwipeCount();

  // `value` rounded to `digits` significant digits, halves away from zero: 1234 -> 1200,
  // 1250 -> 1300, 995 -> 1000.
  static int roundToSignificantDigits(int value, int digits);

 private:
  using CountMap = std::map<std::string, int32_t>;
  using ExactMap = std::map<std::string, bool>;

  // One kind of count of every account, with its exact flags.
  struct Bucket {
    Bucket(const std::string& countKey, const std::string& exactKey, const std::shared_ptr<KvStore>& store);
    void recompute();
    int total() const;

    Durable<CountMap> counts;
    Durable<ExactMap> exact;
    bool allExact = true;  // every stored flag is true
  };

  void setCount(Bucket& bucket, const std::string& accountID, int count, bool exact);
  int total(const Bucket& bucket);
  bool isExact(const Bucket& bucket);
  // The bucket of an item state whose count of the account a state change may move, or null.
  Bucket* movableBucket(ItemState state, const std::string& accountID);
  void post();

  std::shared_ptr<NotificationCenter> notificationCenter_;
  std::mutex mutex_;
  Bucket active_;                                        // guarded by mutex_
  Bucket completed_;                                     // guarded by mutex_
  Bucket deleted_;                                       // guarded by mutex_
  Bucket sent_;                                          // guarded by mutex_
  Durable<std::map<std::string, CountMap>> listCounts_;  // guarded by mutex_
  Durable<std::map<std::string, ExactMap>> listExact_;   // guarded by mutex_
  Durable<int32_t> archiveAutoSwipe_;                    // guarded by mutex_
  Durable<int32_t> deleteAutoSwipe_;                     // guarded by mutex_
  Durable<int32_t> deferAutoSwipe_;                      // guarded by mutex_
  Durable<int32_t> listAutoSwipe_;                       // guarded by mutex_
  std::optional<std::string> snapshotAccount_;           // guarded by mutex_
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer 0 or false.
void counts_manager_set_instance(std::shared_ptr<CountsManager> manager);

void counts_manager_set_active_count(const std::string& accountID, int count, bool exact);
void counts_manager_set_completed_count(const std::string& accountID, int count, bool exact);
void counts_manager_set_deleted_count(const std::string& accountID, int count, bool exact);
void counts_manager_set_sent_count(const std::string& accountID, int count, bool exact);
void counts_manager_remove_counts_for_account(const std::string& accountID);
void counts_manager_update_counts_for_state_change(ItemState from, ItemState to,
                                                   const std::string& accountID);
void counts_manager_begin_snapshot(const std::string& accountID);
void counts_manager_end_snapshot();
void counts_manager_clear_active_counts();
void counts_manager_reset_active_count_for_account(const std::string& accountID);
int counts_manager_total_active_count();
int counts_manager_total_significant_active_count();
bool counts_manager_active_is_exact();
int counts_manager_total_completed_count();
int counts_manager_total_significant_completed_count();
bool counts_manager_completed_is_exact();
int counts_manager_total_deleted_count();
int counts_manager_total_significant_deleted_count();
bool counts_manager_deleted_is_exact();
int counts_manager_total_sent_count();
int counts_manager_total_significant_sent_count();
bool counts_manager_sent_is_exact();
int counts_manager_active_count_for_account(const std::string& accountID);
int counts_manager_total_significant_active_count_for_account(const std::string& accountID);
int counts_manager_accumulate_active_count_for_all_accounts();
bool counts_manager_active_is_exact_for_account(const std::string& accountID);
int counts_manager_total_list_count_for_list(const std::string& listName);
int counts_manager_total_significant_list_count_for_list(const std::string& listName);
bool counts_manager_list_is_exact_for_list(const std::string& listName);

}  // namespace libkestrun
