#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/store/cpp_sqlite3.h"
#include "core/store/db_schema.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

const std::string kInstallKey = "0123456789abcdef-the-rest-of-32b";

// A transaction that fails on a full disk rolls back; once space returns the store goes on, and
// after reopening every committed row is there and the file is whole.
TEST(FullDisk, AFailedTransactionLosesNothingCommitted) {
  kestrun_test::TempDir dir;
  kestrun_test::ScratchMount disk = kestrun_test::ScratchMount::tmpfs(dir.path(), 4 << 20);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const std::string path = dir.file("kestrun.db");
  SqlSchema::check_schema_version(path, false, kInstallKey, [] {});

  int committed = 0;
  int next = 0;
  // One transaction of `rows` rows; true when it committed.
  auto transaction = [&](CppSQLite3DB& db, int rows) {
    CppSQLite3Statement insert = db.compileStatement("INSERT INTO KSITEM (ITEMID, SUBJECT) VALUES (?1, ?2);");
    const int first = next;
    try {
      db.execDML("BEGIN;");
      for (int i = 0; i < rows; ++i, ++next) {
        insert.bind(1, ("item" + std::to_string(next)).c_str());
        insert.bind(2, std::string(500, static_cast<char>('a' + next % 26)).c_str());
        insert.execDML();
        insert.reset();
      }
      db.execDML("COMMIT;");
      committed += rows;
      return true;
    } catch (const CppSQLite3Exception& e) {
      EXPECT_EQ(e.errorCode(), SQLITE_FULL) << e.errorMessage();
      if (!db.isAutoCommit()) db.execDML("ROLLBACK;");
      next = first + rows;
      return false;
    }
  };
  {
    CppSQLite3DB db;
    db.open(path.c_str());
    SqlSchema::set_key(db, kInstallKey);
    ASSERT_TRUE(transaction(db, 100));
    struct statvfs fs {};
    ASSERT_EQ(statvfs(dir.path().c_str(), &fs), 0);
    std::ofstream(dir.file("filler"), std::ios::binary)
        << std::string(fs.f_bavail * fs.f_frsize - 64 * 1024, 'f');
    EXPECT_FALSE(transaction(db, 2000)) << "the disk never filled";
    std::filesystem::remove(dir.file("filler"));
    EXPECT_TRUE(transaction(db, 100));
  }
  CppSQLite3DB db;
  db.open(path.c_str());
  SqlSchema::set_key(db, kInstallKey);
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM KSITEM;"), committed);
  CppSQLite3Query check = db.execQuery("PRAGMA integrity_check;");
  EXPECT_STREQ(check.getStringField(0), "ok");
}

}  // namespace
}  // namespace libkestrun
