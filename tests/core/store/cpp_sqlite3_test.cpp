#include "core/store/cpp_sqlite3.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/temp_dir.h"
#include "thrown_by.h"

namespace {

using kestrun_test::thrown_by;

class CppSQLite3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.open(dir_.file("test.db").c_str());
    db_.execDML("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, score REAL, big INTEGER);");
  }

  kestrun_test::TempDir dir_;
  CppSQLite3DB db_;
};

TEST(CppSQLite3Exception, MessageNamesTheCodeAndKeepsTheDetail) {
  struct Case {
    int code;
    const char* detail;
    std::string message;
  } cases[] = {
      {SQLITE_CONSTRAINT, "UNIQUE constraint failed", "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed"},
      {CPPSQLITE_ERROR, "Null Virtual Machine pointer",
       "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer"},
      {SQLITE_NOTADB, "file is not a database", "UNKNOWN_ERROR[26]: file is not a database"},
      {SQLITE_DONE, nullptr, "SQLITE_DONE[101]: "},
      {SQLITE_RANGE, "", "SQLITE_RANGE[25]: "},
  };
  for (const Case& c : cases) {
    CppSQLite3Exception e(c.code, c.detail);
    EXPECT_EQ(e.errorCode(), c.code);
    EXPECT_EQ(std::string(e.errorMessage()), c.message);
    CppSQLite3Exception copy(e);
    CppSQLite3Exception assigned(0, "x");
    assigned = copy;
    EXPECT_EQ(std::string(assigned.errorMessage()), c.message);
    EXPECT_NE(copy.errorMessage(), e.errorMessage());
  }
  // A released detail comes from SQLite's allocator; the sanitizer build checks it is freed once.
  CppSQLite3Exception released(SQLITE_ERROR, sqlite3_mprintf("near %s", "x"), true);
  EXPECT_STREQ(released.errorMessage(), "SQLITE_ERROR[1]: near x");
}

TEST_F(CppSQLite3Test, StatementRoundTripsEveryValueTypeAndIsReusedAfterReset) {
  CppSQLite3Statement insert =
      db_.compileStatement("INSERT INTO t (id, name, score, big) VALUES (?1, ?2, ?3, ?4);");
  for (int id = 1; id <= 3; ++id) {
    insert.bind(1, id);
    if (id == 3) {
      insert.bindNull(2);
    } else {
      std::string name = "row" + std::to_string(id);
      insert.bind(2, name.c_str());  // a temporary: SQLite keeps its own copy
    }
    insert.bind(3, id * 0.5);
    if (id == 2) {
      insert.bind(4, sqlite3_int64{1} << (40 + id));
    } else {
      insert.bind(4, int64_t{1} << (40 + id));
    }
    EXPECT_EQ(insert.execDML(), 1);
    insert.reset();
  }
  EXPECT_EQ(db_.lastRowId(), 3);

  CppSQLite3Statement select =
      db_.compileStatement("SELECT id, name, score, big FROM t WHERE id >= ?1 ORDER BY id;");
  select.bind(1, 2);
  CppSQLite3Query query = select.execQuery();
  ASSERT_FALSE(query.eof());
  EXPECT_EQ(query.numFields(), 4);
  EXPECT_STREQ(query.fieldName(1), "name");
  EXPECT_EQ(query.fieldIndex("big"), 3);
  EXPECT_EQ(query.getIntField(0), 2);
  EXPECT_STREQ(query.getStringField(1), "row2");
  EXPECT_DOUBLE_EQ(query.getFloatField(2), 1.0);
  EXPECT_EQ(query.getInt64Field(3), int64_t{1} << 42);
  EXPECT_EQ(query.getInt64Field("big"), int64_t{1} << 42);
  query.nextRow();
  ASSERT_FALSE(query.eof());
  EXPECT_TRUE(query.fieldIsNull(1));
  EXPECT_EQ(query.getIntField(1, 7), 7);
  EXPECT_STREQ(query.getStringField(1, ""), "");
  EXPECT_EQ(query.fieldDataType(1), SQLITE_NULL);
  query.nextRow();
  EXPECT_TRUE(query.eof());
  select.reset();

  // Bindings survive the reset.
  EXPECT_EQ(select.execScalar(), 2);
  select.reset();
  select.bind(1, 9);
  EXPECT_TRUE(select.execQuery().eof());
}

TEST_F(CppSQLite3Test, BlobsAndNamedParameters) {
  CppSQLite3Statement insert = db_.compileStatement("INSERT INTO t (id, name) VALUES (:id, :name);");
  const unsigned char bytes[] = {0, 1, 2, 0xff};
  insert.bind(":id", 1);
  insert.bind(":name", bytes, sizeof bytes);
  insert.execDML();
  insert.reset();
  EXPECT_EQ(thrown_by([&] { insert.bind(":nope", 1); }).errorMessage(),
            std::string("CPPSQLITE_ERROR[1000]: Parameter ':nope' is not valid for this statement"));
  CppSQLite3Query query = db_.execQuery("SELECT name FROM t;");
  int len = 0;
  const unsigned char* blob = query.getBlobField(0, len);
  ASSERT_EQ(len, 4);
  EXPECT_EQ(std::basic_string<unsigned char>(blob, len), std::basic_string<unsigned char>(bytes, 4));
  query.finalize();

  const std::string text("a\0b", 3);
  CppSQLite3Statement typed = db_.compileStatement("SELECT typeof(?1), length(CAST(?1 AS BLOB));");
  typed.bind(1, text.data(), static_cast<int>(text.size()));
  CppSQLite3Query row = typed.execQuery();
  EXPECT_STREQ(row.getStringField(0), "text");
  EXPECT_EQ(row.getIntField(1), 3);
}

TEST_F(CppSQLite3Test, ScalarReads) {
  EXPECT_EQ(db_.execScalar("PRAGMA user_version;"), 0);
  EXPECT_EQ(db_.execScalar("SELECT NULL;", 5), 5);
  CppSQLite3Exception e = thrown_by([&] { db_.execScalar("SELECT id FROM t;"); });
  EXPECT_EQ(e.errorCode(), CPPSQLITE_ERROR);
  EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Invalid scalar query");
  EXPECT_TRUE(db_.tableExists("t"));
  EXPECT_FALSE(db_.tableExists("it's"));
}

TEST_F(CppSQLite3Test, ExecDMLRunsEveryStatementCompileOnlyTheFirst) {
  EXPECT_EQ(db_.execDML("INSERT INTO t (id) VALUES (1); INSERT INTO t (id) VALUES (2);"), 1);
  EXPECT_EQ(db_.execScalar("SELECT count(*) FROM t;"), 2);
  CppSQLite3Statement two =
      db_.compileStatement("INSERT INTO t (id) VALUES (3); INSERT INTO t (id) VALUES (4);");
  two.execDML();
  EXPECT_EQ(db_.execScalar("SELECT count(*) FROM t;"), 3);
  EXPECT_EQ(db_.execDML("UPDATE t SET name = 'x';"), 3);
}

TEST_F(CppSQLite3Test, FailuresCarryTheirCodeAndLeaveTheStatementUsable) {
  db_.execDML("INSERT INTO t (id) VALUES (1);");
  CppSQLite3Statement insert = db_.compileStatement("INSERT INTO t (id) VALUES (?1);");
  insert.bind(1, 1);
  CppSQLite3Exception e = thrown_by([&] { insert.execDML(); });
  EXPECT_EQ(e.errorCode(), SQLITE_CONSTRAINT);
  EXPECT_EQ(std::string(e.errorMessage()).rfind("SQLITE_CONSTRAINT[19]: ", 0), 0u) << e.errorMessage();
  insert.bind(1, 2);  // already reset by the failed run
  EXPECT_EQ(insert.execDML(), 1);

  struct Case {
    const char* what;
    std::function<void()> fn;
    int code;
    const char* detail;
  } cases[] = {
      {"syntax", [&] { db_.execDML("NOT SQL"); }, SQLITE_ERROR, "near \"NOT\": syntax error"},
      {"compile", [&] { db_.compileStatement("SELECT nope FROM t;"); }, SQLITE_ERROR, "no such column: nope"},
      {"query", [&] { db_.execQuery("SELECT * FROM missing;"); }, SQLITE_ERROR, "no such table: missing"},
      {"empty", [&] { db_.compileStatement("  -- nothing"); }, CPPSQLITE_ERROR,
       "No SQL statement to compile"},
      {"index", [&] { db_.execQuery("SELECT 1;").getIntField(1); }, CPPSQLITE_ERROR,
       "Invalid field index requested"},
      {"negative", [&] { db_.execQuery("SELECT 1;").fieldName(-1); }, CPPSQLITE_ERROR,
       "Invalid field index requested"},
      {"name", [&] { db_.execQuery("SELECT 1 AS a;").fieldIndex("b"); }, CPPSQLITE_ERROR,
       "Invalid field name requested"},
      {"bind range", [&] { db_.compileStatement("SELECT ?1;").bind(2, 1); }, SQLITE_RANGE,
       "Error binding int param"},
      {"rows through execDML", [&] { db_.compileStatement("SELECT 1;").execDML(); }, CPPSQLITE_ERROR,
       "Statement returns rows; run it with execQuery"},
      {"closed", [] { CppSQLite3DB().execDML("SELECT 1;"); }, CPPSQLITE_ERROR, "Database not open"},
      {"empty statement", [] { CppSQLite3Statement().execDML(); }, CPPSQLITE_ERROR, "Database not open"},
      {"empty query", [] { CppSQLite3Query().eof(); }, CPPSQLITE_ERROR, "Null Virtual Machine pointer"},
      {"empty table", [] { CppSQLite3Table().numRows(); }, CPPSQLITE_ERROR, "Null Results pointer"},
  };
  for (const Case& c : cases) {
    CppSQLite3Exception e = thrown_by(c.fn);
    EXPECT_EQ(e.errorCode(), c.code) << c.what;
    EXPECT_EQ(std::string(e.errorMessage()), std::string(CppSQLite3Exception::errorCodeAsString(c.code)) +
                                                 "[" + std::to_string(c.code) + "]: " + c.detail)
        << c.what;
  }
}

TEST_F(CppSQLite3Test, MovingAStatementEmptiesTheSourceAndAssigningFinalizesTheTarget) {
  CppSQLite3Statement source = db_.compileStatement("INSERT INTO t (id) VALUES (?1);");
  CppSQLite3Statement target = std::move(source);
  EXPECT_EQ(source.sql(), nullptr);
  EXPECT_STREQ(thrown_by([&] { source.bind(1, 1); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
  EXPECT_STREQ(thrown_by([&] { source.execDML(); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
  source.reset();
  source.finalize();
  target.bind(1, 1);
  EXPECT_EQ(target.execDML(), 1);

  // The old statement of an assigned-to object is finalized, so the connection can close.
  target = db_.compileStatement("SELECT 1;");
  target = db_.compileStatement("SELECT 2;");
  EXPECT_EQ(target.execScalar(), 2);
  target.finalize();
  db_.close();
  EXPECT_EQ(db_.handle(), nullptr);
}

TEST_F(CppSQLite3Test, CloseFailsWhileAStatementLivesAndKeepsTheConnection) {
  CppSQLite3Statement statement = db_.compileStatement("SELECT 1;");
  CppSQLite3Exception e = thrown_by([&] { db_.close(); });
  EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Unable to close database");
  EXPECT_EQ(db_.execScalar("SELECT 3;"), 3);
  EXPECT_STREQ(thrown_by([&] { db_.open(dir_.file("other.db").c_str()); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Unable to close database");
  EXPECT_EQ(db_.execScalar("SELECT count(*) FROM t;"), 0);
  statement.finalize();
  // Opening again closes the first connection (the sanitizer build would report it lost).
  db_.open(dir_.file("other.db").c_str());
  EXPECT_EQ(db_.execScalar("SELECT count(*) FROM sqlite_master;"), 0);
  db_.close();
}

TEST_F(CppSQLite3Test, AFailedStepLetsGoOfTheStatement) {
  // A function that fails on its second row makes the step fail after a good first row.
  db_.execDML("INSERT INTO t (id, name) VALUES (1, '1'), (2, 'x');");
  CppSQLite3Statement statement =
      db_.compileStatement("SELECT CASE WHEN name = 'x' THEN json('{') ELSE 1 END FROM t ORDER BY id;");
  CppSQLite3Query borrowed = statement.execQuery();
  ASSERT_FALSE(borrowed.eof());
  EXPECT_EQ(thrown_by([&] { borrowed.nextRow(); }).errorCode(), SQLITE_ERROR);
  EXPECT_STREQ(thrown_by([&] { borrowed.eof(); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
  EXPECT_FALSE(statement.execQuery().eof());  // still usable by its owner
  statement.reset();

  CppSQLite3Query owned =
      db_.execQuery("SELECT CASE WHEN name = 'x' THEN json('{') ELSE 1 END FROM t ORDER BY id;");
  EXPECT_EQ(thrown_by([&] { owned.nextRow(); }).errorCode(), SQLITE_ERROR);
  statement.finalize();
  db_.close();  // the owned statement is gone as well
}

TEST_F(CppSQLite3Test, TableHoldsTheWholeResult) {
  db_.execDML("INSERT INTO t (id, name, score) VALUES (1, 'a', 1.5), (2, NULL, 2.5);");
  CppSQLite3Table table = db_.getTable("SELECT id, name, score FROM t ORDER BY id;");
  EXPECT_EQ(table.numRows(), 2);
  EXPECT_EQ(table.numFields(), 3);
  EXPECT_STREQ(table.fieldName(2), "score");
  EXPECT_STREQ(table.getStringField("name"), "a");
  table.setRow(1);
  EXPECT_EQ(table.getIntField(0), 2);
  EXPECT_TRUE(table.fieldIsNull("name"));
  EXPECT_EQ(table.getIntField(1, 9), 9);
  EXPECT_DOUBLE_EQ(table.getFloatField("score"), 2.5);
  EXPECT_EQ(thrown_by([&] { table.setRow(2); }).errorCode(), CPPSQLITE_ERROR);
  EXPECT_EQ(thrown_by([&] { db_.getTable("SELECT * FROM missing;"); }).errorCode(), SQLITE_ERROR);
}

TEST(CppSQLite3DB, FailedOpenThrowsTheOpenResult) {
  kestrun_test::TempDir dir;
  CppSQLite3DB db;
  CppSQLite3Exception e = thrown_by([&] { db.open(dir.file("missing/dir/x.db").c_str()); });
  EXPECT_EQ(e.errorCode(), SQLITE_CANTOPEN);
}

TEST(CppSQLite3DB, SharedInMemoryUriIsOneDatabaseForEveryConnection) {
  const std::string uri = "file:cpp_sqlite3_shared?mode=memory&cache=shared";
  CppSQLite3DB first;
  first.open(uri.c_str());
  first.execDML("CREATE TABLE m (v); INSERT INTO m VALUES (42);");
  CppSQLite3DB second;
  second.open(uri.c_str());
  EXPECT_EQ(second.execScalar("SELECT v FROM m;"), 42);
  EXPECT_TRUE(first.isAutoCommit());
}

}  // namespace
