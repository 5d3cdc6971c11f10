#include "core/services/badge_count_manager.h"

namespace libkestrun {

BadgeCountManager::BadgeCountManager(std::shared_ptr<KvStore> store, PrefManager* prefs,
                                     CountsManager* counts, SyncStatusManager* syncStatus)
    : cachedStored_("kestrun.cached.badge.count.defaults.key", store, 0),
      cachedBadgeCount_(cachedStored_.get()),
      prefManager_(prefs),
      countsManager_(counts),
      syncStatusManager_(syncStatus) {}

int BadgeCountManager::cache(int count) {
  std::lock_guard<std::mutex> lock(storeMutex_);
  cachedStored_ = count;
  cachedBadgeCount_ = count;
  return count;
}

int BadgeCountManager::getBadgeCount() {
  if (prefManager_->getBadgeType() != kBadgeTypeCount) return cache(0);
  if (countsManager_->activeIsExact() || syncStatusManager_->isArchiveAllOngoing())
    return cache(countsManager_->totalActiveCount());
  return cache(countsManager_->totalSignificantActiveCount());
}

int BadgeCountManager::getMacBadgeCount() {
  if (prefManager_->getBadgeType() != kBadgeTypeCount) return cache(0);
  return cache(countsManager_->accumulateActiveCountForAllAccounts());
}

int BadgeCountManager::getCachedBadgeCount() { return cachedBadgeCount_; }

void BadgeCountManager::setLaunchBadgeCount(int count) { launchBadgeCount_ = count; }

int BadgeCountManager::getLaunchBadgeCount() { return launchBadgeCount_; }

void BadgeCountManager::reset() {
  cache(0);
  launchBadgeCount_ = 0;
}

}  // namespace libkestrun
