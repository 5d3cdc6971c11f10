// The store changes that no user action triggers directly: removing the local data of mail
// accounts (an account removed from the device, or every account reset), creating contacts from a
// list the application hands in, purging stale data, and recomputing the deferral sections of
// deferred items. Each operation turns its arguments into one data task of the data center, so
// its changes are committed in one transaction with the usual query update, notification and
// completions; the completion always receives an empty vector.
//
// There is no instance and no state: every operation is static, may be called from any thread and
// returns at once. Account purges and contacts run at normal priority with the local changes; the
// stale-data purge and the reclassification at low priority, only when no other work waits.
#pragma once

#include <jansson.h>

#include <optional>
#include <string>
#include <vector>

#include "core/data/data_center.h"

class KestrunDataBackgroundWriter {
 public:
  using Completion = KestrunDataCenter::Completion;

  KestrunDataBackgroundWriter() = delete;

  // Removes each account's attachment files and queued uploads, its account lists (a user list
  // goes with its last account list) and its items with their e-mails; the items' drafts live on
  // as new messages unless `keepDrafts`. With a user id, also every draft and auto-swipe rule of
  // that user. Other accounts' data stays.
  static void purgeAllDataForAccounts(const std::vector<std::string>& accountIDs,
                                      const std::optional<std::string>& userID, bool keepDrafts,
                                      Completion completion);
  static void purgeAllDataForAccounts(const std::vector<std::string>& accountIDs, Completion completion);
  static void purgeAllDataForAccount(const std::string& accountID, Completion completion);
  // Finds or creates the contact of each {"address", "name"} object of the array (anything else,
  // and objects without a valid address, are skipped). The list is held until the task has run.
  // A null list queues nothing and never calls the completion.
  static void createContactsFromList(json_t* contacts, Completion completion);
  // Purges the items deleted for good, hidden by the server or known only from a cloud search,
  // then deletes the rules no stored item names. A rule whose last item goes in the same run is
  // still named by the item's row until the commit, so the next run deletes it.
  static void purgeStaleData(Completion completion);
  // Recomputes the deferral section of every deferred item against one reading of the clock.
  static void classifyAllTimeDeferredItems(Completion completion);
};
