// The number the application shows as its badge, computed from the server-side inbox counts by
// the user's badge preference, and the last number computed, kept across restarts. It also holds
// the badge number the application showed at launch; the snapshot client compares the two to
// choose between "downloading" and "checking for" messages.
//
// Ownership: the manager aggregate owns it and the three managers it reads, which outlive it.
// Threads: the computations run on the application's thread, the two reads on the core thread;
// each number is one atomic value, written to the store after it changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/foundation/durable.h"
#include "core/foundation/pref_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/sync_status_manager.h"

namespace libkestrun {

class BadgeCountManager {
 public:
  // The badge preference that shows a count; other types show no number.
  static constexpr int kBadgeTypeCount = 1;

  // Restores the cached count; the launch count starts at 0.
  BadgeCountManager(std::shared_ptr<KvStore> store, PrefManager* prefs, CountsManager* counts,
                    SyncStatusManager* syncStatus);
  BadgeCountManager(const BadgeCountManager&) = delete;
  BadgeCountManager& operator=(const BadgeCountManager&) = delete;
  virtual ~BadgeCountManager() = default;

  // The inbox total, exact when every account's count is exact or an archive-all is running,
  // else rounded to two significant digits; 0 unless the badge shows a count. Cached.
  virtual int getBadgeCount();
  // The desktop badge: per account the exact count where known exactly, else the rounded one,
  // summed; 0 unless the badge shows a count. Cached.
  virtual int getMacBadgeCount();
  virtual int getCachedBadgeCount();
  virtual void setLaunchBadgeCount(int count);
  virtual int getLaunchBadgeCount();
  // Both numbers 0 (the cached one stored).
  virtual void reset();

 private:
  int cache(int count);

  std::atomic<int32_t> launchBadgeCount_{0};
  std::mutex storeMutex_;          // serialises writes of cachedBadgeCount_ to the store
  Durable<int32_t> cachedStored_;  // guarded by storeMutex_
  std::atomic<int32_t> cachedBadgeCount_;
  PrefManager* prefManager_;
  CountsManager* countsManager_;
  SyncStatusManager* syncStatusManager_;
};

}  // namespace libkestrun
