// Read-outs and counts through the facade: store read-outs on the consumer context of a keyed
// store, the list-name status table, and the server counts as the host reads them. Accounts and
// list counts are put into the key-value store before the facade starts, as an earlier run of the
// application leaves them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "api_store_rows.h"
#include "core/api/api.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/model/ks_email_account.h"
#include "core/services/counts_manager.h"
#include "core/services/sync_status_manager.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::ListNameStatus;

class ApiReadoutsTest : public ApiTest {
 protected:
  // Starts the facade over `store_`, holding whatever the test put there.
  void start_over_store() {
    libkestrun::Overrides overrides;
    overrides.kv_store = store_;
    start(config(), overrides);
  }

  // Stores the primary accounts as the account manager keeps them.
  void store_accounts(const std::vector<std::pair<std::string, libkestrun::EmailAccountType>>& accounts) {
    Json::array records;
    for (const auto& [id, type] : accounts) {
      KSEmailAccount account;
      account.accountID = id;
      account.emailAddress = id + "@example.com";
      account.emailType = type;
      account.authenticated = true;
      account.isPrimary = true;
      records.push_back(account.to_json());
    }
    libkestrun::JsonKvStore(store_).set_json("pellavine.account.manager.accounts.set", Json(records));
  }

  std::shared_ptr<libkestrun::KvStore> store_ = std::make_shared<libkestrun::LeveldbStore>(dir_.file("kv"));
};

TEST_F(ApiReadoutsTest, StoreReadOutsFindObjectsOrNothing) {
  start();
  store_rows({conversation("a", ItemState::Inbox, 100)}, {message("a-mail", "a", 100)});
  change_store([](DBContext& context) {
    for (const auto& [address, name] : {std::pair<std::string, std::string>{"ann@example.com", "Ann"},
                                        {"ann@example.com", "Annie"},
                                        {"bob@example.com", "Bob"}}) {
      libkestrun::internal::LocalContact row;
      row.set_CONTACTID(address + "/" + name);
      row.set_EMAILADDRESS(address);
      row.set_NAME(name);
      context.insertContact(row);
    }
    libkestrun::internal::UserList list;
    list.set_LISTID("list_Work");
    list.set_NAME("Work");
    context.insertList(list);
  });

  ASSERT_TRUE(api_->item_with_id("a"));
  EXPECT_EQ(api_->item_with_id("a")->itemID(), "a");
  EXPECT_FALSE(api_->item_with_id("none"));
  ASSERT_TRUE(api_->email_with_id("a-mail"));
  EXPECT_FALSE(api_->email_with_id("none"));
  ASSERT_TRUE(api_->list_with_id("list_Work"));
  ASSERT_TRUE(api_->list_with_name("Work"));
  EXPECT_EQ(api_->list_with_name("Work")->listID(), "list_Work");
  EXPECT_FALSE(api_->list_with_name("Home"));
  EXPECT_FALSE(api_->auto_swipe_with_id("none"));
  EXPECT_TRUE(api_->contact_with_id("bob@example.com/Bob"));
  EXPECT_TRUE(api_->contact_with_email_address("ann@example.com"));
  EXPECT_TRUE(api_->contact_with_email_address_and_name("Ann@Example.com", "Annie"));
  EXPECT_FALSE(api_->contact_with_email_address_and_name("bob@example.com", "Robert"))
      << "an address known only under another name";
  EXPECT_FALSE(api_->contact_with_id("bob@example.com/Robert")) << "and nothing was created";
  EXPECT_EQ(api_->get_contacts_with_email_address("ann@example.com").size(), 2u);
  EXPECT_TRUE(api_->get_contacts_with_email_address("nobody@example.com").empty());
  EXPECT_EQ(api_->get_contacts_matching_search_string("bob").size(), 1u);
  EXPECT_NE(api_->get_email_id(), api_->get_email_id());
}

TEST_F(ApiReadoutsTest, ItemCountsPerPlace) {
  start();
  std::vector<Item> rows = {
      conversation("in-a", ItemState::Inbox, 1),   conversation("in-b", ItemState::Inbox, 2),
      conversation("later", ItemState::Later, 3),  conversation("done", ItemState::Archive, 4),
      conversation("listed", ItemState::List, 5),  conversation("sent", ItemState::Archive, 6),
      conversation("swiped", ItemState::Trash, 7), conversation("draft", ItemState::Inbox, 8),
      conversation("gone", ItemState::Deleted, 9)};
  rows[1].set_ACCOUNTID("B");
  rows[4].set_MLISTID("list_Work");
  rows[6].set_AUTOSWIPESTATE(libkestrun::AutoSwipeRuleState::Active);
  rows[7].set_DRAFTIDS({"D1"});
  rows[8].set_DRAFTIDS({"D2"});
  Email sent = message("sent-mail", "sent", 6);
  sent.set_SENT(true);
  store_rows(rows, {sent});

  struct Case {
    const char* what;
    int count;
    int expected;
  };
  for (const Case& c :
       {Case{"items", api_->number_of_items(), 9}, Case{"inbox", api_->number_of_active_items(), 3},
        Case{"inbox of B", api_->number_of_active_items_for_account("B"), 1},
        Case{"archive", api_->number_of_completed_items(), 2},
        Case{"later", api_->get_number_of_deferred_emails(), 1},
        Case{"list", api_->number_of_items_in_list("list_Work"), 1},
        Case{"unknown list", api_->number_of_items_in_list("list_None"), 0},
        Case{"sent", api_->number_of_sent_items(), 1},
        Case{"auto-swiped", api_->number_of_auto_swipe_items(), 1},
        Case{"drafts, not erased ones", api_->number_of_draft_items(), 1}}) {
    EXPECT_EQ(c.count, c.expected) << c.what;
  }
}

TEST_F(ApiReadoutsTest, TheStatusOfAProposedListName) {
  start();
  change_store([](DBContext& context) {
    for (const char* name : {"Work", "Home"}) {
      libkestrun::internal::UserList list;
      list.set_LISTID(std::string("list_") + name);
      list.set_NAME(name);
      context.insertList(list);
    }
  });
  struct Case {
    const char* name;
    const char* renaming;
    ListNameStatus status;
  };
  for (const Case& c :
       {Case{"", "", ListNameStatus::Empty}, Case{"later", "", ListNameStatus::Reserved},
        Case{"LaTeR", "list_Work", ListNameStatus::Reserved},
        Case{"a^b", "", ListNameStatus::InvalidCharacter}, Case{"Work", "", ListNameStatus::InUse},
        Case{"Work", "list_Home", ListNameStatus::InUse}, Case{"Work", "list_Work", ListNameStatus::Valid},
        Case{"Garden", "", ListNameStatus::Valid}}) {
    EXPECT_EQ(api_->get_status_of_potential_list_name(c.name, c.renaming), c.status)
        << "'" << c.name << "' renaming '" << c.renaming << "'";
  }
  EXPECT_EQ(api_->sanitize_potential_list_name("Work\t\r\n"), "Work");
}

TEST_F(ApiReadoutsTest, ServerCountsAsTheHostReadsThem) {
  {
    // List counts as an earlier run stored them: "Trips" exact at A, a guess at B.
    libkestrun::CountsManager earlier(nullptr, store_);
    earlier.updateListCounts("A",
                             Json::array{Json::object{{"name", "Trips"}, {"count", 1234}, {"exact", true}}});
    earlier.updateListCounts("B", Json::array{Json::object{{"name", "Trips"}, {"count", 66}}});
  }
  start_over_store();
  EXPECT_EQ(api_->total_significant_active_count(), 0) << "no count yet";
  EXPECT_TRUE(api_->active_is_exact()) << "a total of 0 is exact";

  libkestrun::counts_manager_set_active_count("A", 1234, false);
  libkestrun::counts_manager_set_active_count("B", 57, true);
  libkestrun::counts_manager_set_completed_count("A", 98765, false);
  libkestrun::counts_manager_set_deleted_count("A", 7, true);
  libkestrun::counts_manager_set_sent_count("A", 0, false);

  struct Case {
    const char* what;
    int value;
    int expected;
  };
  for (const Case& c : {Case{"active", api_->total_significant_active_count(), 1300},
                        Case{"active of A", api_->total_significant_active_count_for_account("A"), 1200},
                        Case{"active of nobody", api_->total_significant_active_count_for_account("C"), 0},
                        Case{"completed", api_->total_significant_completed_count(), 99000},
                        Case{"deleted", api_->total_significant_deleted_count(), 7},
                        Case{"sent", api_->total_significant_sent_count(), 0},
                        Case{"accumulated", api_->accumulate_active_count_for_all_accounts(), 1200 + 57},
                        Case{"list", api_->total_list_count_for_list("Trips"), 1300},
                        Case{"list, rounded", api_->total_significant_list_count_for_list("Trips"), 1300},
                        Case{"auto-swipe", api_->total_auto_swipe_count(), 0},
                        Case{"shown for A", api_->get_email_count_for_account("A"), 1200},
                        Case{"shown for B", api_->get_email_count_for_account("B"), 57}}) {
    EXPECT_EQ(c.value, c.expected) << c.what;
  }
  EXPECT_FALSE(api_->active_is_exact());
  EXPECT_FALSE(api_->completed_is_exact());
  EXPECT_TRUE(api_->deleted_is_exact());
  EXPECT_TRUE(api_->sent_is_exact());
  EXPECT_FALSE(api_->active_is_exact_for_account("A"));
  EXPECT_TRUE(api_->active_is_exact_for_account("B"));
  EXPECT_FALSE(api_->active_is_exact_for_account("C"));
  EXPECT_FALSE(api_->list_is_exact_for_list("Trips"));

  // While an archive-all runs on any account, the exact count is shown.
  libkestrun::sync_status_manager_archive_all_started("B");
  EXPECT_EQ(api_->get_email_count_for_account("A"), 1234);
  libkestrun::sync_status_manager_archive_all_finished("B");
  EXPECT_EQ(api_->get_email_count_for_account("A"), 1200);
}

TEST_F(ApiReadoutsTest, NonGmailAccountsWithoutAnExactListCount) {
  using libkestrun::EmailAccountType;
  {
    libkestrun::CountsManager earlier(nullptr, store_);
    earlier.updateListCounts("gmail", Json::array{Json::object{{"name", "Trips"}, {"count", 3}}});
    earlier.updateListCounts("exact",
                             Json::array{Json::object{{"name", "Trips"}, {"count", 3}, {"exact", true}}});
  }
  store_accounts({{"gmail", EmailAccountType::Gmail}, {"exact", EmailAccountType::Office365}});
  start_over_store();
  EXPECT_FALSE(api_->has_non_gmail_account_with_nonexact_count_for_list("Trips"))
      << "Gmail is skipped, the other account is exact";
  EXPECT_TRUE(api_->has_non_gmail_account_with_nonexact_count_for_list("Home"))
      << "a non-Gmail account with no count of the list";
}

TEST_F(ApiReadoutsTest, OnlyGmailAccountsAreNeverAGuess) {
  store_accounts({{"gmail", libkestrun::EmailAccountType::Gmail}});
  start_over_store();
  EXPECT_FALSE(api_->has_non_gmail_account_with_nonexact_count_for_list("Trips"));
}

}  // namespace
}  // namespace kestrun_test
