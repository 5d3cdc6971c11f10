#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "core/foundation/defaults.h"
#include "core/store/cpp_sqlite3.h"
#include "core/store/db_schema.h"
#include "faulty_vfs.h"
#include "support/damaged_files.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

using kestrun_test::flip_byte_of;
using kestrun_test::read_file;

const std::string kInstallKey = "0123456789abcdef-the-rest-of-32b";

bool exists(const std::string& path) { return std::filesystem::exists(path); }

class SchemaTest : public ::testing::Test {
 public:
  // Runs the check as the core's set-up does and counts the resets.
  void check(const std::optional<std::string>& key = kInstallKey) {
    SqlSchema::check_schema_version(path_, false, key, [this] { ++resets_; });
  }

  void open(CppSQLite3DB& db, const std::optional<std::string>& key = kInstallKey) {
    db.open(path_.c_str());
    if (key) SqlSchema::set_key(db, *key);
  }

  int count(const char* sql, const std::optional<std::string>& key = kInstallKey) {
    CppSQLite3DB db;
    open(db, key);
    return db.execScalar(sql);
  }

  void insert_item() {
    CppSQLite3DB db;
    open(db);
    db.execDML("INSERT INTO KSITEM (ITEMID, STATE) VALUES ('a', 2);");
  }

  kestrun_test::TempDir dir_;
  std::string path_ = SqlSchema::database_name(dir_.path(), "kestrun.db", false);
  int resets_ = 0;
};

TEST(SchemaStatements, HaveTheExactTextAndOrder) {
  ASSERT_EQ(SqlSchema::create_table_statements.size(), 11u);
  ASSERT_EQ(SqlSchema::create_index_statements.size(), 23u);
  ASSERT_EQ(SqlSchema::drop_table_statements.size(), 10u);
  ASSERT_EQ(SqlSchema::drop_index_statements.size(), 23u);
  EXPECT_EQ(
      SqlSchema::create_table_statements[1],
      "CREATE TABLE IF NOT EXISTS `KSLIST` ( `LISTID` TEXT, `NAME` TEXT, `LISTCOUNT` INTEGER, `ORDERKEY` "
      "INTEGER, PRIMARY KEY (LISTID) );");
  EXPECT_EQ(
      SqlSchema::create_table_statements[6],
      "CREATE TABLE IF NOT EXISTS `BCCEMAILS` ( `CONTACTID` TEXT, `EMAILID` TEXT, PRIMARY KEY (CONTACTID, "
      "EMAILID) );");
  EXPECT_EQ(SqlSchema::create_table_statements[10], "PRAGMA user_version(1408047191);");
  EXPECT_EQ(SqlSchema::create_index_statements[0],
            "CREATE INDEX IF NOT EXISTS `KSACCOUNTLIST_ACCOUNT_ID_INDEX` ON `KSACCOUNTLIST` (ACCOUNTID);");
  EXPECT_EQ(
      SqlSchema::create_index_statements[9],
      "CREATE INDEX IF NOT EXISTS `KSITEM_LISTINBOX_INDEX` ON `KSITEM` (ACCOUNTID, STATE, MODIFIEDAT desc);");
  EXPECT_EQ(SqlSchema::create_index_statements[22],
            "CREATE INDEX IF NOT EXISTS `draft_item_id_index` ON `Draft` (item_id);");
  EXPECT_EQ(SqlSchema::drop_table_statements[9], "DROP TABLE IF EXISTS `Draft`;");
  EXPECT_EQ(SqlSchema::drop_index_statements[21], "DROP INDEX IF EXISTS `draft_modified_at_index`;");
  EXPECT_EQ(SqlSchema::database_name("/caches", "kestrun.db", false), "/caches/kestrun.db");
  EXPECT_EQ(SqlSchema::database_name("/caches", "kestrun.db", true),
            "file:kestrun.db?mode=memory&cache=shared");
}

TEST_F(SchemaTest, FirstStartBuildsEveryTableAndIndexUnderTheKey) {
  check();
  EXPECT_EQ(resets_, 1);
  CppSQLite3DB db;
  open(db);
  EXPECT_EQ(db.execScalar("PRAGMA user_version;"), 1408047191);
  // Columns per table, with a few positions that the row records rely on.
  const std::map<std::string, int> columns = {
      {"KSACCOUNTLIST", 8}, {"KSLIST", 4},    {"KSCONTACT", 7}, {"KSEMAIL", 25}, {"KSITEM", 38},
      {"KSAUTOSWIPE", 12},  {"BCCEMAILS", 2}, {"CCEMAILS", 2},  {"TOEMAILS", 2}, {"Draft", 17},
  };
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM sqlite_master WHERE type = 'table';"), 10);
  for (const auto& [table, n] : columns) {
    EXPECT_EQ(db.execScalar(("SELECT count(*) FROM pragma_table_info('" + table + "');").c_str()), n)
        << table;
  }
  struct Position {
    const char* table;
    int cid;
    const char* name;
    const char* type;
    int pk;
  } positions[] = {
      {"KSITEM", 26, "DRAFTIDS", "TEXT", 0},       {"KSITEM", 16, "MASTERREV", "REAL", 0},
      {"KSITEM", 37, "TYPE", "INTEGER", 0},        {"Draft", 1, "draft_id", "TEXT", 1},
      {"Draft", 16, "is_full_body", "BOOLEAN", 0}, {"TOEMAILS", 1, "EMAILID", "TEXT", 2},
      {"KSEMAIL", 24, "SYNCDATA", "TEXT", 0},
  };
  for (const Position& p : positions) {
    CppSQLite3Query q = db.execQuery(("SELECT name, type, pk FROM pragma_table_info('" +
                                      std::string(p.table) + "') WHERE cid = " + std::to_string(p.cid) + ";")
                                         .c_str());
    ASSERT_FALSE(q.eof()) << p.table << " " << p.cid;
    EXPECT_STREQ(q.getStringField(0), p.name);
    EXPECT_STREQ(q.getStringField(1), p.type);
    EXPECT_EQ(q.getIntField(2), p.pk) << p.name;
  }
  CppSQLite3Query indexes =
      db.execQuery("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL ORDER BY rowid;");
  for (const std::string& statement : SqlSchema::create_index_statements) {
    ASSERT_FALSE(indexes.eof());
    EXPECT_NE(statement.find("`" + std::string(indexes.getStringField(0)) + "`"), std::string::npos);
    indexes.nextRow();
  }
  EXPECT_TRUE(indexes.eof());
  indexes.finalize();
  // The file is encrypted: without the key it is not a database.
  EXPECT_THROW(count("SELECT count(*) FROM KSITEM;", std::nullopt), CppSQLite3Exception);
}

TEST_F(SchemaTest, SecondStartKeepsTheDataAndRecreatesWhatIsMissing) {
  check();
  insert_item();
  {
    CppSQLite3DB db;
    open(db);
    db.execDML("DROP INDEX `KSITEM_STATE_INDEX`; DROP TABLE `KSLIST`;");
  }
  check();
  EXPECT_EQ(resets_, 1);
  EXPECT_EQ(count("SELECT count(*) FROM KSITEM;"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name IN ('KSITEM_STATE_INDEX', 'KSLIST');"), 2);
}

// A file of another version is deleted; one that cannot be read is moved aside, one copy kept.
TEST_F(SchemaTest, AFileThatCannotServeIsRebuiltOnceWithItsJournal) {
  struct Case {
    const char* what;
    std::function<void(SchemaTest&)> spoil;
    bool moved_aside;
  } cases[] = {
      {"one version less",
       [](SchemaTest& t) {
         CppSQLite3DB db;
         t.open(db);
         db.execDML("PRAGMA user_version(1408047190);");
       },
       false},
      {"another key", [](SchemaTest& t) { t.check(std::string(32, 'o')); }, true},
      {"no key before", [](SchemaTest& t) { t.check(std::nullopt); }, true},
      {"not a database",
       [](SchemaTest& t) {
         std::filesystem::remove(t.path_);
         std::ofstream(t.path_) << std::string(8192, 'g');
       },
       true},
      {"a damaged schema",
       [](SchemaTest& t) {
         CppSQLite3DB db;
         t.open(db);
         db.execDML("PRAGMA writable_schema = ON;");
         db.execDML("UPDATE sqlite_master SET sql = 'CREATE TABLE KSITEM (' WHERE name = 'KSITEM';");
       },
       true},
  };
  const std::string aside = path_ + ".damaged";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    check();
    insert_item();
    c.spoil(*this);
    const std::string spoiled = read_file(path_);
    std::ofstream(path_ + "-journal") << "stale";
    resets_ = 0;
    check();
    EXPECT_EQ(resets_, 1);
    EXPECT_EQ(count("SELECT count(*) FROM KSITEM;"), 0);
    EXPECT_EQ(count("PRAGMA user_version;"), 1408047191);
    for (const char* suffix : {"-journal", "-wal", "-shm"}) EXPECT_FALSE(exists(path_ + suffix)) << suffix;
    if (c.moved_aside) {
      EXPECT_EQ(read_file(aside), spoiled);  // the last copy replaces the one before
    }
    check();
    EXPECT_EQ(resets_, 1) << "rebuilt once";
  }
}

// A damaged byte in the record of the database key never yields an altered key: the same key
// comes back, or a new one, and then the database the old key encrypted is moved aside, not
// deleted.
TEST_F(SchemaTest, AKeyLostToDamageMovesItsDatabaseAside) {
  for (const char* file : {".log", ".ldb"}) {
    SCOPED_TRACE(file);
    kestrun_test::TempDir caches;
    std::filesystem::remove(path_);
    std::filesystem::remove(path_ + ".damaged");
    const std::string old_key = Defaults(caches.path()).get_encryption_key();
    // Each start opens "defaultsdb" twice, and each open moves the log into a table file.
    if (std::string(file) == ".ldb") Defaults{caches.path()};
    check(old_key);
    {
      CppSQLite3DB db;
      open(db, old_key);
      db.execDML("INSERT INTO KSITEM (ITEMID) VALUES ('kept');");
    }
    const std::string encrypted = read_file(path_);
    ASSERT_TRUE(flip_byte_of(caches.file("defaultsdb"), file, old_key));

    resets_ = 0;
    const std::string key = Defaults(caches.path()).get_encryption_key();
    check(key);
    if (key == old_key) {
      EXPECT_EQ(resets_, 0);
      EXPECT_EQ(count("SELECT count(*) FROM KSITEM;", key), 1);
      continue;
    }
    EXPECT_EQ(resets_, 1);
    EXPECT_EQ(count("SELECT count(*) FROM KSITEM;", key), 0);
    EXPECT_EQ(read_file(path_ + ".damaged"), encrypted);
  }
}

// A writer dies in a transaction that spilled pages into the file: its journal is hot.
void leave_a_hot_journal(SchemaTest& t) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CppSQLite3DB db;
    t.open(db);
    db.execDML("PRAGMA cache_size = 10; BEGIN;");
    for (int i = 0; i < 2000; ++i) {
      db.execDML(("INSERT INTO KSITEM (ITEMID, SUBJECT) VALUES ('x" + std::to_string(i) + "', '" +
                  std::string(200, 's') + "');")
                     .c_str());
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(exists(t.path_ + "-journal"));
}

// Reads that fail at start, on the database or on a journal left by a crash: one costs nothing;
// one that comes back at the second reading is reported and the file kept, never taken for
// damage.
TEST_F(SchemaTest, ReadErrorsAtStartNeverCostTheDatabase) {
  struct Case {
    const char* what;
    const char* file;  // appended to the database's name
    sqlite3_int64 offset;
    int amount;  // 0: any read over the offset
    bool hot_journal;
  };
  const Case cases[] = {
      {"page 1", "", 0, 0, false},
      {"the page geometry, read while a hot journal rolls back", "", 0, 24, true},
      {"a hot journal's header", "-journal", 0, 0, true},
      {"a hot journal's page", "-journal", 512 + 4 + 10, 0, true},
  };
  for (const Case& c : cases) {
    for (int times : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + (times == 1 ? ", once" : ", at both readings"));
      std::filesystem::remove(path_);
      check();
      insert_item();
      if (c.hot_journal) leave_a_hot_journal(*this);
      kestrun_test::fail_reads(path_ + c.file, c.offset, times, c.amount);
      int code = SQLITE_OK;
      try {
        check();
      } catch (const CppSQLite3Exception& e) {
        code = e.errorCode();
      }
      EXPECT_EQ(kestrun_test::clear_read_faults(), times) << "the fault was not met at every reading";
      EXPECT_EQ(code & 0xFF, times == 1 ? SQLITE_OK : SQLITE_IOERR);
      EXPECT_FALSE(exists(path_ + ".damaged"));
      check();  // the disk is well again
      EXPECT_EQ(resets_, 1);
      EXPECT_EQ(count("SELECT count(*) FROM KSITEM;"), 1);
      EXPECT_EQ(count("PRAGMA integrity_check;"), 0);  // "ok" reads as 0
      resets_ = 0;
    }
  }
}

TEST_F(SchemaTest, AReadFailureThatSaysNothingAboutTheFileKeepsIt) {
  check();
  insert_item();
  // A journal that cannot be opened makes every read fail without the file being at fault.
  std::filesystem::create_directory(path_ + "-journal");
  EXPECT_THROW(check(), CppSQLite3Exception);
  std::filesystem::remove(path_ + "-journal");
  EXPECT_EQ(resets_, 1);
  EXPECT_EQ(count("SELECT count(*) FROM KSITEM;"), 1);
}

TEST_F(SchemaTest, RecreateEmptiesEveryTableAndKeepsTheVersion) {
  check();
  insert_item();
  CppSQLite3DB db;
  open(db);
  SqlSchema::drop_tables(db);
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM sqlite_master;"), 0);
  SqlSchema::create_tables(db);
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM KSITEM;"), 0);
  EXPECT_EQ(db.execScalar("PRAGMA user_version;"), 1408047191);
}

TEST(SchemaInMemory, IsCreatedAndNeverReset) {
  const std::string name = SqlSchema::database_name("", "schema_test_memory", true);
  CppSQLite3DB keeper;  // holds the shared database between the checks
  keeper.open(name.c_str());
  SqlSchema::set_key(keeper, kInstallKey);
  int resets = 0;
  for (int start = 0; start < 2; ++start) {
    SqlSchema::check_schema_version(name, true, kInstallKey, [&] { ++resets; });
    if (start == 0) keeper.execDML("INSERT INTO KSLIST (LISTID) VALUES ('l');");
  }
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(keeper.execScalar("SELECT count(*) FROM KSLIST;"), 1);
  EXPECT_EQ(keeper.execScalar("PRAGMA user_version;"), 1408047191);
}

}  // namespace
}  // namespace libkestrun
