// Live queries through the facade on a keyed store: paging, the rows of each item list, the other
// query kinds, replacing, pausing and ending, and the gesture read-outs.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "api_store_rows.h"
#include "core/api/api.h"

namespace kestrun_test {
namespace {

using libkestrun::GestureState;
using libkestrun::ItemGestureContextType;

class ApiQueriesTest : public ApiTest {
 protected:
  ApiQueriesTest() { start(); }

  std::shared_ptr<QueryRecorder> items(ItemGestureContextType context, int limit,
                                       const std::string& listId = "", const std::string& accountId = "",
                                       const std::string& queryId = "q") {
    auto recorder = std::make_shared<QueryRecorder>();
    api_->perform_query_items(queryId, context, limit, listId, accountId, recorder);
    return recorder;
  }
};

// Inbox conversations "in-00" (oldest) to "in-<n-1>", ten milliseconds apart.
std::vector<Item> inbox(int n) {
  std::vector<Item> rows;
  for (int i = 0; i < n; ++i) {
    rows.push_back(
        conversation((i < 10 ? "in-0" : "in-") + std::to_string(i), ItemState::Inbox, 1000 + 10 * i));
  }
  return rows;
}
// The `count` newest of inbox(n), newest first.
Ids newest(int n, int count) {
  Ids ids;
  for (int i = n - 1; i >= n - count; --i) ids.push_back((i < 10 ? "in-0" : "in-") + std::to_string(i));
  return ids;
}

TEST_F(ApiQueriesTest, APagedInboxListsThePagePlusOneRow) {
  store_rows(inbox(60));
  struct Case {
    int limit;
    int listed;
  };
  for (const Case& c : {Case{50, 51}, Case{1, 2}, Case{59, 60}, Case{60, 60}, Case{0, 60}, Case{-4, 60}}) {
    EXPECT_EQ(items(ItemGestureContextType::Inbox, c.limit)->rows(), newest(60, c.listed))
        << "limit " << c.limit;
  }
}

TEST_F(ApiQueriesTest, RowsSharingTheBoundaryTimeAreAllListed) {
  store_rows({conversation("new", ItemState::Inbox, 300), conversation("tie-a", ItemState::Inbox, 200),
              conversation("tie-b", ItemState::Inbox, 200), conversation("old", ItemState::Inbox, 100)});
  EXPECT_EQ(items(ItemGestureContextType::Inbox, 1)->rows(), (Ids{"new", "tie-a", "tie-b"}));
}

// The page's lower bound stays where registration put it: newer rows join the list, older ones
// never do, and a row that leaves is reported once.
TEST_F(ApiQueriesTest, APagedListFollowsCommitsAboveItsBoundary) {
  store_rows(inbox(10), {message("in-08-mail", "in-08", 1080)});
  auto recorder = items(ItemGestureContextType::Inbox, 5);
  ASSERT_EQ(recorder->rows(), newest(10, 6));

  auto add = [](const std::string& id, int64_t modifiedAt) {
    change_store([&](DBContext& context) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
      item->setItemID(id);
      item->setAccountID("A");
      item->setState(ItemState::Inbox);
      item->setThreadHasEmails(true);
      item->setModifiedAt(modifiedAt);
    });
  };
  add("newer", 5000);
  add("older", 10);
  EXPECT_EQ(perform_change([&](auto done) { api_->archive_item("in-08", done); }), Ids{"in-08"});

  EXPECT_EQ(recorder->changes(), (Ids{"insert:newer", "delete:in-08"}));
  Ids expected = {"newer", "in-09", "in-07", "in-06", "in-05", "in-04"};
  EXPECT_EQ(recorder->rows(), expected);
}

TEST_F(ApiQueriesTest, EachItemListHoldsItsRows) {
  std::vector<Item> rows = {
      conversation("inbox", ItemState::Inbox, 100),    conversation("inbox-b", ItemState::Inbox, 110),
      conversation("later", ItemState::Later, 120),    conversation("archived", ItemState::Archive, 130),
      conversation("trash", ItemState::Trash, 140),    conversation("listed-1", ItemState::List, 150),
      conversation("listed-2", ItemState::List, 160),  conversation("sent", ItemState::Archive, 170),
      conversation("swiped", ItemState::Archive, 180), conversation("spam", ItemState::Spam, 190),
      conversation("draft", ItemState::Archive, 200),  conversation("erased", ItemState::Deleted, 210),
  };
  rows[1].set_ACCOUNTID("B");
  rows[5].set_MLISTID("list_one");
  rows[6].set_MLISTID("list_two");
  rows[8].set_AUTOSWIPESTATE(libkestrun::AutoSwipeRuleState::Active);
  rows[10].set_DRAFTIDS({"D1"});
  Email sent = message("sent-mail", "sent", 170);
  sent.set_SENT(true);
  store_rows(rows, {sent});

  struct Case {
    ItemGestureContextType context;
    std::string list;
    std::string account;
    Ids rows;
  };
  const std::vector<Case> cases = {
      {ItemGestureContextType::Inbox, "", "", {"inbox-b", "inbox"}},
      {ItemGestureContextType::Later, "", "", {"later"}},
      {ItemGestureContextType::Archive, "", "", {"draft", "swiped", "sent", "archived"}},
      {ItemGestureContextType::Trash, "", "", {"trash"}},
      {ItemGestureContextType::List, "list_one", "", {"listed-1"}},
      {ItemGestureContextType::List, "", "", {"listed-2", "listed-1"}},
      {ItemGestureContextType::AccountInbox, "", "B", {"inbox-b"}},
      {ItemGestureContextType::Sent, "", "", {"sent"}},
      {ItemGestureContextType::AutoSwiped, "", "", {"swiped"}},
      {ItemGestureContextType::Spam, "", "", {"spam"}},
      {ItemGestureContextType::Drafts, "", "", {"draft"}},
      {ItemGestureContextType::Search, "", "", {}},
  };
  for (const Case& c : cases) {
    for (int limit : {0, 10}) {
      EXPECT_EQ(items(c.context, limit, c.list, c.account)->rows(), c.rows)
          << "context " << static_cast<int>(c.context) << " list '" << c.list << "' limit " << limit;
    }
  }
}

TEST_F(ApiQueriesTest, ReplacingPausingResumingAndEndingAQuery) {
  store_rows({conversation("a", ItemState::Inbox, 100)}, {message("a-mail", "a", 100)});
  auto first = items(ItemGestureContextType::Inbox, 0);
  auto second = items(ItemGestureContextType::Inbox, 0);
  perform_change([&](auto done) { api_->archive_item("a", done); });
  EXPECT_TRUE(first->changes().empty()) << "a replaced query hears nothing more";
  EXPECT_EQ(second->changes(), Ids{"delete:a"});

  api_->pause_query("q");
  perform_change([&](auto done) { api_->activate_item("a", done); });
  EXPECT_EQ(second->changes(), Ids{"delete:a"}) << "a paused query misses commits";
  api_->resume_query("q");
  EXPECT_EQ(second->changes(), Ids{"delete:a"}) << "resuming alone runs nothing";
  perform_change([&](auto done) { api_->star_item("a", done); });
  EXPECT_EQ(second->rows(), Ids{"a"});
  EXPECT_EQ(second->changes(), (Ids{"delete:a", "insert:a"}));

  api_->end_query("q");
  perform_change([&](auto done) { api_->archive_item("a", done); });
  EXPECT_EQ(second->changes().size(), 2u) << "an ended query hears nothing";
  api_->pause_query("unknown");
  api_->resume_query("unknown");
  api_->end_query("unknown");
}

TEST_F(ApiQueriesTest, TheCallbackFormReportsResultsAndChanges) {
  store_rows({conversation("a", ItemState::Inbox, 100)}, {message("a-mail", "a", 100)});
  std::mutex mutex;
  Ids calls;
  auto note = [&](const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  };
  api_->perform_query_item(
      "item", "a",
      [&](const std::string& name, const std::vector<std::shared_ptr<KestrunObject>>& rows) {
        note(name + " results " + std::to_string(rows.size()));
      },
      [&](const std::string& name) { note(name + " begin"); },
      [&](const std::string& name) { note(name + " end"); },
      [&](const std::string&, std::shared_ptr<KestrunObject> row, libkestrun::ConsumerChangeType type, int,
          int) { note(QueryRecorder::kind(type) + " " + row->id()); });
  perform_change([&](auto done) { api_->archive_item("a", done); });
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(calls, (Ids{"item results 1", "item begin", "item results 1", "update a", "item end"}));
}

TEST_F(ApiQueriesTest, EmailContactListAndRuleQueries) {
  store_rows({conversation("a", ItemState::Inbox, 100)},
             {message("late", "a", 300), message("early", "a", 100), message("other", "b", 200)});
  change_store([](DBContext& context) {
    auto contact = [&](const std::string& address, const std::string& name, long long score) {
      libkestrun::internal::LocalContact row;
      row.set_CONTACTID(address + "/" + name);
      row.set_EMAILADDRESS(address);
      row.set_NAME(name);
      row.set_SCORE(score);
      context.insertContact(row);
    };
    contact("ann@example.com", "Ann", 5);
    contact("bob@example.com", "Bob", 9);
    contact("cy@example.org", "Cy", 1);
    auto list = [&](const std::string& name, int count, long long order) {
      libkestrun::internal::UserList row;
      row.set_LISTID("list_" + name);
      row.set_NAME(name);
      row.set_LISTCOUNT(count);
      row.set_ORDERKEY(order);
      context.insertList(row);
    };
    list("Work", 2, 1);
    list("Home", 0, 0);
    list("Workshop", 1, 2);
  });

  struct Case {
    const char* what;
    std::function<void(std::shared_ptr<QueryRecorder>)> query;
    Ids rows;
  };
  const std::vector<Case> cases = {
      {"e-mails of an item", [&](auto r) { api_->perform_query_emails("q", "a", r); }, {"early", "late"}},
      {"one item", [&](auto r) { api_->perform_query_item("q", "a", r); }, {"a"}},
      {"an unknown item", [&](auto r) { api_->perform_query_item("q", "none", r); }, {}},
      {"one e-mail", [&](auto r) { api_->perform_query_email("q", "late", r); }, {"late"}},
      {"every contact",
       [&](auto r) { api_->perform_query_contacts("q", "", r); },
       {"bob@example.com/Bob", "ann@example.com/Ann", "cy@example.org/Cy"}},
      {"contacts by text",
       [&](auto r) { api_->perform_query_contacts("q", "example.com", r); },
       {"bob@example.com/Bob", "ann@example.com/Ann"}},
      {"non-empty lists",
       [&](auto r) { api_->perform_query_lists("q", true, r); },
       {"list_Work", "list_Workshop"}},
      {"all lists",
       [&](auto r) { api_->perform_query_lists("q", false, r); },
       {"list_Home", "list_Work", "list_Workshop"}},
      {"lists by name",
       [&](auto r) { api_->perform_query_lists("q", std::string("Work"), r); },
       {"list_Work", "list_Workshop"}},
      {"lists, empty text",
       [&](auto r) { api_->perform_query_lists("q", std::string(), r); },
       {"list_Home", "list_Work", "list_Workshop"}},
      {"rules of nobody", [&](auto r) { api_->perform_query_auto_swipes("q", "", r); }, {}},
      {"items of an unknown rule",
       [&](auto r) { api_->perform_query_items_with_auto_swipe("q", "none", r); },
       {}},
  };
  for (const Case& c : cases) {
    auto recorder = std::make_shared<QueryRecorder>();
    c.query(recorder);
    EXPECT_EQ(recorder->rows(), c.rows) << c.what;
  }

  Ids lists;
  for (const auto& list : api_->get_all_lists()) lists.push_back(list->listID());
  EXPECT_EQ(lists, (Ids{"list_Home", "list_Work", "list_Workshop"}));
}

// Sections of the deferred list; the limit and the account are not used.
class SectionRecorder : public libkestrun::Api::DeferralSectionObserver {
 public:
  explicit SectionRecorder(std::vector<std::vector<std::string>>* sections) : sections_(sections) {}
  void set_results(const std::string&, const Sections& sections) override {
    sections_->clear();
    for (const auto& [key, rows] : sections) {
      std::vector<std::string> ids{std::to_string(static_cast<int>(key))};
      for (const auto& row : rows) ids.push_back(row->id());
      sections_->push_back(ids);
    }
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, std::shared_ptr<KestrunObject>, libkestrun::ConsumerChangeType,
                    libkestrun::SectionPosition, libkestrun::SectionPosition) override {}
  void section_changed(const std::string&, const libkestrun::DeferralBucket&, libkestrun::ConsumerChangeType,
                       int, int) override {}
  void end_changes(const std::string&) override {}

 private:
  std::vector<std::vector<std::string>>* sections_;
};

TEST_F(ApiQueriesTest, TheDeferredListComesInSectionsWhateverTheLimitAndAccount) {
  std::vector<Item> rows = {conversation("tomorrow", ItemState::Later, 100),
                            conversation("today-2", ItemState::Later, 110),
                            conversation("today-1", ItemState::Later, 120)};
  rows[0].set_DEFERRALBUCKET(libkestrun::DeferralBucket::Tomorrow);
  rows[1].set_DEFERRALBUCKET(libkestrun::DeferralBucket::LaterToday);
  rows[1].set_REMINDAT(2000);
  rows[2].set_DEFERRALBUCKET(libkestrun::DeferralBucket::LaterToday);
  rows[2].set_REMINDAT(1000);
  store_rows(rows);
  const std::vector<std::vector<std::string>> expected = {{"2", "today-1", "today-2"}, {"3", "tomorrow"}};
  for (auto [limit, account] : {std::pair<int, const char*>{0, ""}, {3, "B"}}) {
    std::vector<std::vector<std::string>> sections;
    api_->perform_deferral_section_query("later", limit, account,
                                         std::make_unique<SectionRecorder>(&sections));
    EXPECT_EQ(sections, expected) << limit;
    api_->end_query("later");
  }
}

TEST_F(ApiQueriesTest, GestureReadOuts) {
  using libkestrun::ItemState;
  EXPECT_EQ(api_->gesture_state_for_gesture_type(1, ItemGestureContextType::Inbox), GestureState::Defer);
  EXPECT_EQ(api_->gesture_state_for_gesture_type(4, ItemGestureContextType::Later), GestureState::Archive);
  EXPECT_EQ(api_->gesture_state_for_gesture_type(3, ItemGestureContextType::Sent), GestureState::None);
  EXPECT_EQ(api_->gesture_state_for_gesture_type(5, ItemGestureContextType::Inbox), GestureState::None);

  struct StateCase {
    int state;
    GestureState gesture;
  };
  for (const StateCase& c : {StateCase{1, GestureState::Defer}, StateCase{3, GestureState::Archive},
                             StateCase{6, GestureState::None}, StateCase{7, GestureState::None},
                             StateCase{8, GestureState::None}, StateCase{9, GestureState::Trash},
                             StateCase{0, GestureState::None}, StateCase{10, GestureState::None}}) {
    EXPECT_EQ(api_->gesture_state_for_item_state(static_cast<ItemState>(c.state)), c.gesture) << c.state;
  }
  struct ContextCase {
    int context;
    ItemState state;
  };
  for (const ContextCase& c :
       {ContextCase{1, ItemState::Inbox}, ContextCase{2, ItemState::Later}, ContextCase{6, ItemState::Inbox},
        ContextCase{10, ItemState::Spam}, ContextCase{7, ItemState::None}, ContextCase{8, ItemState::None},
        ContextCase{9, ItemState::None}, ContextCase{11, ItemState::None}, ContextCase{0, ItemState::None}}) {
    EXPECT_EQ(api_->item_state_for_gesture_context(static_cast<ItemGestureContextType>(c.context)), c.state)
        << c.context;
  }
  EXPECT_EQ(api_->get_default_auto_swipe_oldest_time(), std::numeric_limits<long long>::max());
  EXPECT_EQ(api_->get_default_auto_swipe_oldest_time(), 9223372036854775807LL);
}

}  // namespace
}  // namespace kestrun_test
