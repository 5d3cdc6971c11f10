// The sample mailbox every fresh state directory starts with: three mail accounts (example.com,
// example.net, example.org) with about a hundred conversations each, HTML bodies, attachments,
// lists, auto-swipe rules and drafts. All of it is invented, and generated from a fixed seed, so
// two servers started from nothing hold the same mailbox.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sync_server/sync_store.h"

namespace sync_server {

struct SampleAccount {
  std::string account_id;
  std::string address;
  std::string name;
  int type;                 // the mail account type the client knows it by
  std::string password;     // accepted by ACCOUNT_CREATE as "password"
  std::string access_code;  // accepted by ACCOUNT_CREATE as "access_code"
};

const std::vector<SampleAccount>& sample_accounts();

// How much of each kind the sample holds for one account.
struct SampleCounts {
  int64_t items = 0;
  int64_t emails = 0;
  int64_t lists = 0;
  int64_t attachments = 0;
  int64_t rules = 0;
  int64_t drafts = 0;
};

// Writes the mailbox into `store` inside the caller's transaction: each account as a "mailbox"
// record, its items, e-mails, lists and attachments as objects it owns, and the auto-swipe rules
// and drafts a user receives on adding the account as objects of the kinds "sample_auto_swipe"
// and "sample_user_item".
void seed_sample_mailbox(SyncStore& store);

// Adds `conversations` inbox conversations of three e-mails each, with plain generated texts, to
// the mailbox of `account_id`, inside the caller's transaction.
void seed_generated_conversations(SyncStore& store, const std::string& account_id, int conversations);

// The counts seeding produces, computed without a store.
SampleCounts sample_counts(const std::string& account_id);

}  // namespace sync_server
