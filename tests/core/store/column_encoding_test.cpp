// Each column type written through the statements and read back through a result row.
#include <gtest/gtest.h>

#include <string>

#include "core/store/sqlite_query.h"
#include "record_tables.h"

namespace libkestrun::internal {
namespace {

using kestrun_test::RecordDatabase;

class ColumnEncoding : public ::testing::Test {
 protected:
  // The one-row, one-field result of `sql`, read by the codec of T.
  template <class T>
  T read_scalar(const std::string& sql) {
    CppSQLite3Query query = base_.db.execQuery(sql.c_str());
    return ColumnCodec<T>::read(query, 0);
  }

  std::string scalar_text(const std::string& sql) {
    CppSQLite3Query query = base_.db.execQuery(sql.c_str());
    return query.getStringField(0, "<null>");
  }

  template <class Row>
  Row read_all_null() {
    std::string sql = "SELECT NULL";
    for (size_t i = 1; i < std::tuple_size_v<typename Row::tuple_type>; ++i) sql += ", NULL";
    CppSQLite3Query query = base_.db.execQuery(sql.c_str());
    return Row(query);
  }

  template <class Row>
  void expect_all_null_reads_as_default() {
    Row row = read_all_null<Row>();
    EXPECT_TRUE(row.row.values == Row().row.values) << Row::table_name;
    for (bool flag : row.row.changed_flags) EXPECT_FALSE(flag);
  }

  RecordDatabase base_;
};

TEST_F(ColumnEncoding, AllNullRowReadsAsDefaults) {
  expect_all_null_reads_as_default<Item>();
  expect_all_null_reads_as_default<Email>();
  expect_all_null_reads_as_default<ToEmails>();
  expect_all_null_reads_as_default<Draft>();
  expect_all_null_reads_as_default<AutoSwipe>();
  expect_all_null_reads_as_default<List>();
  expect_all_null_reads_as_default<UserList>();
  expect_all_null_reads_as_default<LocalContact>();
}

TEST_F(ColumnEncoding, DefaultRowsAreStoredWithoutNulls) {
  SqliteQuery<Item>(base_.db).update_or_insert(Item());
  SqliteQuery<Email>(base_.db).update_or_insert(Email());
  SqliteQuery<Draft>(base_.db).update_or_insert(Draft());
  EXPECT_EQ(
      scalar_text("SELECT COUNT(*) FROM KSITEM WHERE DRAFTIDS='[]' AND MLISTID='' AND typeof(SUBJECT)='text'"
                  " AND THREADREAD=0 AND TYPE=0 AND typeof(MASTERREV)='real' AND MASTERREV=0"),
      "1");
  EXPECT_EQ(scalar_text("SELECT COUNT(*) FROM KSEMAIL WHERE SERVERSTYLINGS='' AND SENT=0 AND SENDSTATE=0"),
            "1");
  // Only the absent optionals are NULL; JSON columns hold empty arrays and objects.
  EXPECT_EQ(
      scalar_text("SELECT typeof(item_id) || typeof(base_email_id) || ' ' || version || `from` || `to` || "
                  "cc || bcc FROM Draft"),
      R"(nullnull {}{"address":"","name":""}[][][])");
}

TEST_F(ColumnEncoding, StringSetText) {
  struct Case {
    const char* stored;
    std::set<std::string> expected;
  };
  const Case cases[] = {
      {R"('["b","a","a"]')", {"a", "b"}},
      {"'[]'", {}},
      {"'{}'", {}},
      {"'[1]'", {""}},
      {"'not json'", {}},
      {"''", {}},
      {"NULL", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_scalar<std::set<std::string>>(std::string("SELECT ") + c.stored), c.expected) << c.stored;
  }
  EXPECT_EQ(ColumnCodec<std::set<std::string>>::to_text({"b", "a"}), R"(["a","b"])");
  EXPECT_EQ(ColumnCodec<std::set<std::string>>::to_text({}), "[]");
}

TEST_F(ColumnEncoding, DraftJsonColumnsReadBadTextAsEmpty) {
  EXPECT_TRUE(read_scalar<std::vector<EmailName>>("SELECT NULL").empty());
  EXPECT_TRUE(read_scalar<std::vector<EmailName>>("SELECT '{}'").empty());
  EXPECT_EQ(read_scalar<EmailName>("SELECT NULL"), EmailName());
  EXPECT_EQ(read_scalar<EmailName>("SELECT 'x'"), EmailName());
  EXPECT_EQ(read_scalar<VectorClock>("SELECT NULL"), VectorClock());
  EXPECT_EQ(read_scalar<VectorClock>("SELECT '[1]'"), VectorClock());
  EXPECT_EQ(read_scalar<std::optional<std::string>>("SELECT ''"), std::optional<std::string>(""));
  EXPECT_EQ(read_scalar<std::optional<std::string>>("SELECT NULL"), std::nullopt);
  EXPECT_EQ(read_scalar<std::string>("SELECT 42"), "42");  // SQLite's own conversion
}

TEST_F(ColumnEncoding, IntegersAndEnumerationsKeepAnyValue) {
  base_.db.execDML(
      "INSERT INTO KSAUTOSWIPE (AUTOSWIPEID, STATE, FIELD, COUNT, LISTNAME, DEFERRALDATA) "
      "VALUES ('r', 99, NULL, NULL, NULL, '{not json');"
      "INSERT INTO KSACCOUNTLIST (LISTID, LOADEDONCE) VALUES ('l', 2);"
      "INSERT INTO KSLIST (LISTID, LISTCOUNT) VALUES ('u', NULL);");
  SqliteQuery<AutoSwipe> rules(base_.db);
  std::optional<AutoSwipe> rule = rules.fetch_by_id("r");
  ASSERT_TRUE(rule.has_value());
  EXPECT_EQ(static_cast<int>(rule->get_STATE()), 99);
  EXPECT_EQ(static_cast<int>(rule->get_FIELD()), 0);
  EXPECT_EQ(rule->get_COUNT(), 0);
  EXPECT_EQ(rule->get_DEFERRALDATA(), "{not json");
  rules.update_or_insert(*rule);
  EXPECT_EQ(scalar_text("SELECT STATE || ' ' || COUNT || ' ' || typeof(LISTNAME) || ' ' || DEFERRALDATA "
                        "FROM KSAUTOSWIPE"),
            "99 0 text {not json");

  SqliteQuery<List> lists(base_.db);
  std::optional<List> list = lists.fetch_by_id("l");
  ASSERT_TRUE(list.has_value());
  EXPECT_TRUE(list->get_LOADEDONCE());
  lists.update_or_insert(*list);
  EXPECT_EQ(scalar_text("SELECT LOADEDONCE FROM KSACCOUNTLIST"), "1");

  SqliteQuery<UserList> user_lists(base_.db);
  user_lists.update_or_insert(*user_lists.fetch_by_id("u"));
  EXPECT_EQ(scalar_text("SELECT LISTCOUNT FROM KSLIST"), "0");
}

TEST_F(ColumnEncoding, TextKeepsEmbeddedNulBytes) {
  SqliteQuery<UserList> lists(base_.db);
  UserList row;
  row.set_LISTID(std::string("list\0a", 6));
  row.set_NAME(std::string("before\0after", 12));
  lists.update_or_insert(row);
  std::optional<UserList> read = lists.fetch_by_id(std::string("list\0a", 6));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->get_NAME(), std::string("before\0after", 12));
  EXPECT_FALSE(lists.exists("list"));  // a key cut at its NUL would collide with this one
}

TEST_F(ColumnEncoding, UnreadableResultMakesNoRow) {
  struct Case {
    const char* sql;  // null for a query that holds no statement
    const char* message;
  };
  const Case cases[] = {
      {"SELECT 'id', 'name', 3", "CPPSQLITE_ERROR[1000]: Invalid field index requested"},
      {nullptr, "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"},
  };
  for (const Case& c : cases) {
    CppSQLite3Query query = c.sql ? base_.db.execQuery(c.sql) : CppSQLite3Query();
    try {
      UserList row(query);
      ADD_FAILURE() << "a row was made";
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorCode(), CPPSQLITE_ERROR);
      EXPECT_STREQ(e.errorMessage(), c.message);
    }
  }
}

}  // namespace
}  // namespace libkestrun::internal
