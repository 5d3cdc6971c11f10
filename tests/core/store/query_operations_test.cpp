// The prepared and ad hoc statements run against real database files, plain and keyed.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>
#include <limits>
#include <string>

#include "core/store/query_builder.h"
#include "core/store/sqlite_query.h"
#include "record_tables.h"
#include "thrown_by.h"

namespace libkestrun::internal {
namespace {

using kestrun_test::RecordDatabase;

using kestrun_test::thrown_by;

UserList user_list(const std::string& id, const std::string& name, long long order = 0) {
  UserList row;
  row.set_LISTID(id);
  row.set_NAME(name);
  row.set_ORDERKEY(order);
  return row;
}

Email email(const std::string& id, const std::string& account) {
  Email row;
  row.set_EMAILID(id);
  row.set_ACCOUNTID(account);
  return row;
}

// Statements of the connection that are stepped and not yet reset.
int busy_statements(const CppSQLite3DB& db) {
  int busy = 0;
  for (sqlite3_stmt* stmt = sqlite3_next_stmt(db.handle(), nullptr); stmt;
       stmt = sqlite3_next_stmt(db.handle(), stmt))
    busy += sqlite3_stmt_busy(stmt);
  return busy;
}

class QueryOperations : public ::testing::TestWithParam<bool> {
 protected:
  int count(const char* sql) { return base_.db.execScalar(sql); }

  RecordDatabase base_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(PlainAndKeyed, QueryOperations, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Keyed" : "Plain"; });

TEST_P(QueryOperations, MissingKeyAndStatementReuse) {
  SqliteQuery<UserList> lists(base_.db);
  EXPECT_FALSE(lists.exists("list_a"));
  EXPECT_FALSE(lists.remove("list_a"));
  EXPECT_FALSE(lists.fetch_by_id("list_a").has_value());

  EXPECT_TRUE(lists.update_or_insert(user_list("list_a", "a", 7)));
  EXPECT_TRUE(lists.exists("list_a"));
  std::optional<UserList> fetched = lists.fetch_by_id("list_a");
  ASSERT_TRUE(fetched.has_value());
  EXPECT_EQ(fetched->get_NAME(), "a");
  EXPECT_EQ(fetched->get_ORDERKEY(), 7);
  EXPECT_FALSE(fetched->is_changed_NAME());

  // A stored row, equal or not, ends at the update.
  EXPECT_TRUE(lists.update_or_insert(*fetched));
  EXPECT_TRUE(lists.update_or_insert(user_list("list_a", "renamed")));
  EXPECT_EQ(count("SELECT COUNT(*) FROM KSLIST WHERE NAME='renamed'"), 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM KSLIST"), 1);

  EXPECT_TRUE(lists.remove("list_a"));
  EXPECT_FALSE(lists.exists("list_a"));
  EXPECT_EQ(busy_statements(base_.db), 0);

  if (GetParam()) {  // the statements really ran on encrypted pages
    CppSQLite3DB unkeyed;
    unkeyed.open(base_.path().c_str());
    EXPECT_THROW(unkeyed.execScalar("SELECT COUNT(*) FROM KSLIST;"), CppSQLite3Exception);
  }
}

// Every table through its five statements: insert, fetch, update, exists, remove. A filled row
// (every column away from its default) comes back equal; a link row whose two columns hold the
// same text can be reached by one key value.
template <class Row>
void expect_five_statements(CppSQLite3DB& db) {
  SqliteQuery<Row> statements(db);
  Row row = kestrun_test::filled_row<Row>();
  if constexpr (std::tuple_size_v<typename Row::tuple_type> == 2)
    std::get<1>(row.row.values) = std::get<0>(row.row.values);
  std::string key = std::get<0>(row.row.values);
  if constexpr (requires { row.id(); }) key = row.id();

  EXPECT_FALSE(statements.exists(key)) << Row::table_name;
  EXPECT_TRUE(statements.update_or_insert(row)) << Row::table_name;  // inserted
  std::optional<Row> fetched = statements.fetch_by_id(key);
  ASSERT_TRUE(fetched.has_value()) << Row::table_name;
  EXPECT_TRUE(fetched->row.values == row.row.values) << Row::table_name;
  EXPECT_TRUE(statements.update_or_insert(*fetched)) << Row::table_name;  // updated, no second row
  EXPECT_TRUE(statements.exists(key)) << Row::table_name;
  EXPECT_TRUE(statements.remove(key)) << Row::table_name;
  EXPECT_FALSE(statements.fetch_by_id(key).has_value()) << Row::table_name;
  EXPECT_EQ(busy_statements(db), 0) << Row::table_name;
}

TEST_P(QueryOperations, EveryTableThroughItsFiveStatements) {
  expect_five_statements<Item>(base_.db);
  expect_five_statements<Email>(base_.db);
  expect_five_statements<ToEmails>(base_.db);
  expect_five_statements<CcEmails>(base_.db);
  expect_five_statements<BccEmails>(base_.db);
  expect_five_statements<Draft>(base_.db);
  expect_five_statements<AutoSwipe>(base_.db);
  expect_five_statements<List>(base_.db);
  expect_five_statements<UserList>(base_.db);
  expect_five_statements<LocalContact>(base_.db);
}

TEST_P(QueryOperations, SaveIfKeepsTheNewerDraft) {
  SqliteQuery<Draft> drafts(base_.db);
  auto newer = [](const std::optional<Draft>& stored, const Draft& candidate) {
    return !stored || stored->get_version() < candidate.get_version();
  };
  Draft draft;
  draft.set_draft_id("D");
  draft.set_subject("first");
  draft.set_version(VectorClock().incremented("desk"));
  EXPECT_TRUE(drafts.save_if(draft, newer));  // inserted

  Draft concurrent = draft;
  concurrent.set_version(VectorClock().incremented("phone"));
  concurrent.set_subject("concurrent");
  EXPECT_FALSE(drafts.save_if(concurrent, newer));
  EXPECT_EQ(drafts.fetch_by_id("D")->get_subject(), "first");

  Draft next = draft;
  next.set_version(draft.get_version().incremented("desk"));
  next.set_subject("second");
  EXPECT_TRUE(drafts.save_if(next, newer));  // updated
  EXPECT_EQ(drafts.fetch_by_id("D")->get_subject(), "second");
  EXPECT_EQ(count("SELECT COUNT(*) FROM Draft"), 1);

  // Accepted even when the write changes nothing.
  EXPECT_TRUE(drafts.save_if(next, [](const auto&, const auto&) { return true; }));
  EXPECT_EQ(busy_statements(base_.db), 0);
}

TEST_P(QueryOperations, FetchAllAndRemoveWhere) {
  SqliteQuery<Email> emails(base_.db);
  for (const char* id : {"e1", "e2", "e3"}) emails.update_or_insert(email(id, "acct"));
  emails.update_or_insert(email("other", "acct2"));

  FetchSqliteQuery<Email> by_account =
      QueryBuilder<Email>().select_all().where(EmailAttr::ACCOUNTID).build_stmt(base_.db);
  EXPECT_TRUE(by_account.fetch_all(EmailAttr::ACCOUNTID, std::string("none")).empty());
  std::vector<Email> rows = by_account.fetch_all(EmailAttr::ACCOUNTID, std::string("acct"));
  ASSERT_EQ(rows.size(), 3u);
  for (const Email& row : rows) EXPECT_EQ(row.get_ACCOUNTID(), "acct");

  RemoveSqliteQuery<Email> remove_account;
  remove_account = QueryBuilder<Email>().where(EmailAttr::ACCOUNTID).build_remove_stmt(base_.db);
  EXPECT_FALSE(remove_account.remove_where(EmailAttr::ACCOUNTID, std::string("none")));
  EXPECT_TRUE(remove_account.remove_where(EmailAttr::ACCOUNTID, std::string("acct")));
  EXPECT_EQ(count("SELECT COUNT(*) FROM KSEMAIL"), 1);
  EXPECT_TRUE(by_account.fetch_all(EmailAttr::ACCOUNTID, std::string("acct")).empty());

  // Moving a fetch statement empties the source but leaves its where set.
  FetchSqliteQuery<Email> moved;
  moved = std::move(by_account);
  EXPECT_EQ(moved.fetch_all(EmailAttr::ACCOUNTID, std::string("acct2")).size(), 1u);
  EXPECT_EQ(by_account.where_columns(), std::set<EmailAttr>{EmailAttr::ACCOUNTID});
  EXPECT_STREQ(
      thrown_by([&] { by_account.fetch_all(EmailAttr::ACCOUNTID, std::string("acct2")); }).errorMessage(),
      "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
}

TEST_P(QueryOperations, RecipientLinks) {
  SqliteQuery<ToEmails> to(base_.db);
  SqliteQuery<CcEmails> cc(base_.db);
  ToEmails link;
  link.set_CONTACTID("c");
  link.set_EMAILID("e");
  bind_row(to.insert_stmt, link.row.values);
  EXPECT_EQ(to.insert_stmt.execDML(), 1);
  to.insert_stmt.reset();

  // The same pair again violates the key; the statement is left reset and usable.
  CppSQLite3Exception duplicate = thrown_by([&] {
    to.update_or_insert(link);
    to.insert_stmt.execDML();
  });
  EXPECT_EQ(duplicate.errorCode(), SQLITE_CONSTRAINT);
  EXPECT_EQ(std::string(duplicate.errorMessage()).rfind("SQLITE_CONSTRAINT[19]: ", 0), 0u);
  EXPECT_EQ(count("SELECT COUNT(*) FROM TOEMAILS"), 1);

  // The same contact may be a To and a Cc recipient of one e-mail.
  CcEmails cc_link;
  cc_link.set_CONTACTID("c");
  cc_link.set_EMAILID("e");
  EXPECT_TRUE(cc.update_or_insert(cc_link));
  EXPECT_TRUE(to.exists("c") == false);  // one key value cannot name a two-column key
  RemoveSqliteQuery<ToEmails> remove_to(
      QueryBuilder<ToEmails>().where(ToEmailsAttr::EMAILID).build_remove_stmt(base_.db));
  EXPECT_TRUE(remove_to.remove_where(ToEmailsAttr::EMAILID, std::string("e")));
  EXPECT_EQ(count("SELECT COUNT(*) FROM TOEMAILS"), 0);
  EXPECT_EQ(count("SELECT COUNT(*) FROM CCEMAILS"), 1);
  EXPECT_EQ(busy_statements(base_.db), 0);
}

TEST_P(QueryOperations, EmptyStatementsFailClearly) {
  SqliteQuery<Item> empty;
  CppSQLite3Exception error = thrown_by([&] { empty.exists("i"); });
  EXPECT_EQ(error.errorCode(), CPPSQLITE_ERROR);
  EXPECT_STREQ(error.errorMessage(), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
  empty = SqliteQuery<Item>(base_.db);  // as the data-model context prepares its members
  EXPECT_FALSE(empty.exists("i"));

  base_.db.execDML("DROP TABLE KSCONTACT;");
  EXPECT_EQ(thrown_by([&] { SqliteQuery<LocalContact> contacts(base_.db); }).errorCode(), SQLITE_ERROR);
}

// A read that fails after its statement stepped must not leave the statement holding its read
// lock: the other connection, on the same thread, would wait for it until its busy time-out.
TEST_P(QueryOperations, FailedReadsLeaveNoStatementBusy) {
  CppSQLite3DB other;
  base_.open_another(other);
  other.setBusyTimeout(0);
  SqliteQuery<UserList> lists(base_.db);
  lists.update_or_insert(user_list("list_a", "a"));
  lists.update_or_insert(user_list("list_b", "a", std::numeric_limits<long long>::min()));

  struct Case {
    const char* name;
    const char* sql;  // selects the rows whose NAME is ?2
  };
  const Case cases[] = {
      {"a row record read from too few fields", "SELECT `LISTID`, `NAME` FROM `KSLIST` WHERE `NAME` = ?2"},
      {"a step that fails on the second row",
       "SELECT `LISTID`, `NAME`, abs(`ORDERKEY`), 0 FROM `KSLIST` WHERE `NAME` = ?2 ORDER BY `LISTID`"},
  };
  for (const Case& c : cases) {
    FetchSqliteQuery<UserList> fetch(base_.db, c.sql, {UserListAttr::NAME});
    EXPECT_THROW(fetch.fetch_all(UserListAttr::NAME, std::string("a")), CppSQLite3Exception) << c.name;
    EXPECT_EQ(busy_statements(base_.db), 0) << c.name;
    EXPECT_EQ(busy_statements(other), 0) << c.name;
    EXPECT_EQ(other.execDML("UPDATE KSLIST SET LISTCOUNT = LISTCOUNT + 1;"), 2) << c.name;
    // And the statement works again.
    EXPECT_THROW(fetch.fetch_all(UserListAttr::NAME, std::string("a")), CppSQLite3Exception) << c.name;
    EXPECT_TRUE(fetch.fetch_all(UserListAttr::NAME, std::string("none")).empty()) << c.name;
  }
}

}  // namespace
}  // namespace libkestrun::internal
