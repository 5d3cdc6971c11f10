#include "core/store/codec.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "core/store/codec_key.h"
#include "core/store/cpp_sqlite3.h"
#include "support/temp_dir.h"

namespace {

using libkestrun::internal::CodecCipher;
using libkestrun::internal::CodecKey;

const std::string kKey = "0123456789abcdef-the-rest-of-32b";  // 32 bytes, like the per-install key
const std::string kMarker = "MARKER-7f3a9c-plain-text";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

int thrown_code(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const CppSQLite3Exception& e) {
    return e.errorCode();
  }
  return SQLITE_OK;
}

void open_keyed(CppSQLite3DB& db, const std::string& path, const std::string& key) {
  db.open(path.c_str());
  if (!key.empty()) db.setKey(key.data(), static_cast<int>(key.size()));
}

// A database of 200 rows, each carrying the marker, under `key`.
void fill(const std::string& path, const std::string& key) {
  CppSQLite3DB db;
  open_keyed(db, path, key);
  db.execDML("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT);");
  db.execDML("BEGIN;");
  CppSQLite3Statement insert = db.compileStatement("INSERT INTO t (body) VALUES (?1);");
  for (int i = 0; i < 200; ++i) {
    insert.bind(1, (kMarker + std::to_string(i)).c_str());
    insert.execDML();
    insert.reset();
  }
  db.execDML("COMMIT;");
}

TEST(CodecKey, ParsesThePrefixAndRepeatsShortKeys) {
  struct Case {
    std::string key;
    CodecCipher cipher;
    int prefix;
    int stored;
    std::string cipher_key;  // the start of it
  } cases[] = {
      {kKey, CodecCipher::kAes128, 0, 16, kKey.substr(0, 16)},
      {"aes256:" + std::string(40, 'k') + "x", CodecCipher::kAes256, 7, 39, std::string(32, 'k')},
      {"aes128:" + kKey, CodecCipher::kAes128, 7, 23, kKey.substr(0, 16)},
      {"rc4:abc", CodecCipher::kRc4, 4, 7, "abcabcabcabc"},
      {"rc4:", CodecCipher::kAes128, 0, 4, "rc4:rc4:rc4:rc4:"},     // too short for a prefix
      {"aes128:", CodecCipher::kAes128, 0, 7, "aes128:aes128:ae"},  // likewise
      {"xy", CodecCipher::kAes128, 0, 2, "xyxyxyxyxyxyxyxy"},
  };
  for (const Case& c : cases) {
    CodecKey key = CodecKey::parse(c.key.data(), static_cast<int>(c.key.size()));
    EXPECT_FALSE(key.no_key) << c.key;
    EXPECT_EQ(key.cipher, c.cipher) << c.key;
    EXPECT_EQ(key.prefix_length, c.prefix) << c.key;
    EXPECT_EQ(key.stored_length, c.stored) << c.key;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key.cipher_key()), c.cipher_key.size()), c.cipher_key)
        << c.key;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key.text.data()), c.prefix),
              c.key.substr(0, c.prefix));
  }
  CodecKey rc4 = CodecKey::parse("rc4:abc", 7);
  EXPECT_EQ(rc4.cipher_key()[255], 'a');  // 255 = 3 * 85: the cycle restarts at the end
  EXPECT_TRUE(CodecKey::parse(nullptr, 0).no_key);
  EXPECT_TRUE(CodecKey::parse("x", 0).no_key);
}

// The page cipher against OpenSSL's AES in output-feedback mode: IV = page number (little-endian)
// and the first 12 nonce bytes, over the page's usable bytes, whole or in part.
TEST(PageCipher, MatchesAesInOutputFeedbackMode) {
  struct Case {
    std::string key;
    const EVP_CIPHER* cipher;
    std::string cipher_key;
  } cases[] = {
      {kKey, EVP_aes_128_ofb(), kKey.substr(0, 16)},
      {"aes128:" + kKey, EVP_aes_128_ofb(), kKey.substr(0, 16)},
      {"aes256:" + kKey, EVP_aes_256_ofb(), kKey},
  };
  const int page_size = 4096, reserve = 12, usable = page_size - reserve;
  std::string stored(page_size, '\0');
  for (int i = 0; i < page_size; ++i) stored[i] = static_cast<char>(i * 131 + 7);
  for (const Case& c : cases) {
    libkestrun::internal::PageCipher cipher(CodecKey::parse(c.key.data(), static_cast<int>(c.key.size())));
    for (int length : {usable, 40, 17, 16, 1}) {
      SCOPED_TRACE(c.key + " over " + std::to_string(length) + " bytes");
      std::string page = stored;
      ASSERT_TRUE(
          cipher.decrypt_page(5, reinterpret_cast<uint8_t*>(page.data()), page_size, reserve, length));

      std::string expected = stored;
      const std::string iv = std::string("\x05\0\0\0", 4) + stored.substr(usable, 12);
      EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
      int written = 0;
      ASSERT_EQ(
          EVP_DecryptInit_ex(ctx, c.cipher, nullptr, reinterpret_cast<const uint8_t*>(c.cipher_key.data()),
                             reinterpret_cast<const uint8_t*>(iv.data())),
          1);
      ASSERT_EQ(EVP_DecryptUpdate(ctx, reinterpret_cast<uint8_t*>(expected.data()), &written,
                                  reinterpret_cast<const uint8_t*>(stored.data()), length),
                1);
      EVP_CIPHER_CTX_free(ctx);
      EXPECT_EQ(hex(page), hex(expected));
    }
  }
}

class CodecTest : public ::testing::Test {
 protected:
  kestrun_test::TempDir dir_;
  std::string path_ = dir_.file("k.db");
};

TEST_F(CodecTest, PageOneDecryptsIndependentlyAndNoPlainTextReachesTheDisk) {
  fill(path_, kKey);
  const std::string disk = read_file(path_);
  ASSERT_GE(disk.size(), 4096u);
  EXPECT_EQ(hex(disk.substr(16, 8)), "100001010c402020");
  EXPECT_EQ(disk.find(kMarker), std::string::npos);
  EXPECT_EQ(disk.find("CREATE TABLE"), std::string::npos);

  // Page 1 with the cipher-line tool: AES-128-OFB under the first 16 key bytes, IV = page number 1
  // (little-endian) and the first 12 bytes of the nonce at the page's end.
  write_file(dir_.file("page1"), disk.substr(0, 4096 - 12));
  const std::string iv = "01000000" + hex(disk.substr(4096 - 12, 12));
  const std::string command = "openssl enc -d -aes-128-ofb -nopad -K " + hex(kKey.substr(0, 16)) + " -iv " +
                              iv + " -in " + dir_.file("page1") + " -out " + dir_.file("plain1");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string plain = read_file(dir_.file("plain1"));
  EXPECT_EQ(plain.substr(0, 16), std::string("SQLite format 3\0", 16));
  EXPECT_NE(plain.find("CREATE TABLE t"), std::string::npos);

  // The journal of an open transaction holds the old pages, encrypted as well.
  CppSQLite3DB db;
  open_keyed(db, path_, kKey);
  db.execDML("PRAGMA cache_size = 2;");  // spill, so the journal is written before the commit
  db.execDML("BEGIN; UPDATE t SET body = body || 'changed';");
  const std::string journal = read_file(path_ + "-journal");
  ASSERT_GT(journal.size(), 4096u);
  EXPECT_EQ(journal.find(kMarker), std::string::npos);
  EXPECT_EQ(read_file(path_).find(kMarker), std::string::npos);
  db.execDML("COMMIT;");
}

TEST_F(CodecTest, WithoutAKeyTheMarkerIsOnDisk) {
  // The counterpart of the test above: the same search finds plain pages.
  fill(path_, "");
  EXPECT_NE(read_file(path_).find(kMarker), std::string::npos);
  CppSQLite3DB db;
  open_keyed(db, path_, "");
  db.execDML("PRAGMA cache_size = 2; BEGIN; UPDATE t SET body = body || 'changed';");
  EXPECT_NE(read_file(path_ + "-journal").find(kMarker), std::string::npos);
}

TEST_F(CodecTest, RewritingAPageChangesAllItsBytes) {
  fill(path_, kKey);
  const std::string before = read_file(path_);
  {
    CppSQLite3DB db;
    open_keyed(db, path_, kKey);
    // One byte of one row: a keystream used again would leave the rest of the page as it was.
    db.execDML("UPDATE t SET body = 'X' || substr(body, 2) WHERE id = 100;");
  }
  const std::string after = read_file(path_);
  ASSERT_EQ(before.size(), after.size());
  int rewritten = 0;
  for (size_t page = 0; page < after.size(); page += 4096) {
    const std::string old_page = before.substr(page, 4096);
    const std::string new_page = after.substr(page, 4096);
    if (old_page.substr(4096 - 12) == new_page.substr(4096 - 12)) continue;  // same nonce: not written
    ++rewritten;
    int same = 0;
    for (size_t i = 0; i < 4096 - 12; ++i)
      same += old_page[i] == new_page[i] && (page > 0 || i < 16 || i >= 24);
    EXPECT_LT(same, 64) << "page " << page / 4096 + 1 << ": a fresh nonce gives a fresh keystream";
  }
  EXPECT_EQ(rewritten, 2);  // page 1 (change counter) and the row's leaf
  EXPECT_NE(before.substr(0, 16), after.substr(0, 16)) << "page 1 is written at every commit";
}

TEST_F(CodecTest, OnlyTheRightKeyOpensAnEncryptedFile) {
  fill(path_, kKey);
  struct Case {
    const char* what;
    std::string key;
    int code;
  } cases[] = {
      {"no key", "", SQLITE_NOTADB},
      {"another key", "another-key-of-32-bytes-00000000", SQLITE_NOTADB},
      {"same first 16 bytes", kKey.substr(0, 16) + "different-tail!!", SQLITE_OK},  // AES-128 uses 16
      {"the key", kKey, SQLITE_OK},
      {"the core's explicit form", "aes128:" + kKey.substr(0, 16), SQLITE_OK},
  };
  for (const Case& c : cases) {
    CppSQLite3DB db;
    open_keyed(db, path_, c.key);  // keying never fails: the first read does
    int count = 0;
    EXPECT_EQ(thrown_code([&] { count = db.execScalar("SELECT count(*) FROM t;"); }), c.code) << c.what;
    if (c.code == SQLITE_OK) {
      EXPECT_EQ(count, 200) << c.what;
    }
  }
  // And a plain file read under a key.
  const std::string plain = dir_.file("plain.db");
  fill(plain, "");
  CppSQLite3DB db;
  open_keyed(db, plain, kKey);
  EXPECT_EQ(thrown_code([&] { db.execScalar("SELECT count(*) FROM t;"); }), SQLITE_NOTADB);
}

TEST_F(CodecTest, EveryCipherRoundTripsWithItsReservedBytes) {
  struct Case {
    std::string key;
    int reserve;
  } cases[] = {
      {kKey, 12},
      {"aes256:" + kKey, 12},
      {"rc4:" + kKey, 4},
  };
  for (const Case& c : cases) {
    const std::string path = dir_.file("c" + std::to_string(c.reserve) + "-" + std::to_string(c.key.size()));
    fill(path, c.key);
    const std::string disk = read_file(path);
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(disk[20])), c.reserve) << c.key;
    EXPECT_EQ(disk.find(kMarker), std::string::npos) << c.key;
    CppSQLite3DB db;
    open_keyed(db, path, c.key);
    EXPECT_EQ(db.execScalar("SELECT count(*) FROM t WHERE body LIKE 'MARKER%';"), 200) << c.key;
    EXPECT_EQ(std::string(db.execQuery("PRAGMA integrity_check;").getStringField(0)), "ok") << c.key;
  }
}

TEST_F(CodecTest, TwoKeyedConnectionsSeeEachOthersCommits) {
  // The second connection notices a change by the encrypted change counter of page 1; misread, it
  // would keep serving its stale cache.
  fill(path_, kKey);
  CppSQLite3DB writer;
  CppSQLite3DB reader;
  open_keyed(writer, path_, kKey);
  open_keyed(reader, path_, kKey);
  for (int round = 1; round <= 3; ++round) {
    EXPECT_EQ(reader.execScalar("SELECT count(*) FROM t;"), 200 * round);
    writer.execDML("INSERT INTO t (body) SELECT body FROM t LIMIT 200;");
  }
  EXPECT_EQ(reader.execScalar("SELECT count(*) FROM t;"), 800);
}

TEST_F(CodecTest, InMemoryDatabasesAcceptAKeyAndStayPlain) {
  CppSQLite3DB db;
  open_keyed(db, "file:codec_memory?mode=memory&cache=shared", kKey);
  db.execDML("CREATE TABLE m (v); INSERT INTO m VALUES (5);");
  EXPECT_EQ(db.execScalar("SELECT v FROM m;"), 5);
  CppSQLite3DB plain_memory;
  open_keyed(plain_memory, ":memory:", kKey);
  EXPECT_EQ(plain_memory.execScalar("SELECT 1;"), 1);
}

TEST_F(CodecTest, KeyCallsRefuseWhatTheyCannotDoSafely) {
  CppSQLite3DB db;
  open_keyed(db, path_, "");
  db.execDML("CREATE TABLE t (v); BEGIN; INSERT INTO t VALUES (1);");
  EXPECT_EQ(kestrun_sqlite3_key(db.handle(), kKey.data(), 32), SQLITE_BUSY);
  EXPECT_EQ(kestrun_sqlite3_rekey(db.handle(), kKey.data(), 32), SQLITE_BUSY);
  try {
    db.setKey(kKey.data(), 32);
    ADD_FAILURE() << "keyed inside a transaction";
  } catch (const CppSQLite3Exception& e) {
    EXPECT_STREQ(e.errorMessage(), "SQLITE_BUSY[5]: database is locked");
  }
  db.execDML("COMMIT;");

  // A file opened past the encrypting layer would stay plain: refused.
  sqlite3* bare = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.file("bare.db").c_str(), &bare), SQLITE_OK);
  EXPECT_EQ(kestrun_sqlite3_key(bare, kKey.data(), 32), SQLITE_MISUSE);
  sqlite3_close(bare);
}

TEST_F(CodecTest, AKeyedFileRefusesWhatWouldBypassTheCipher) {
  fill(path_, kKey);
  CppSQLite3DB db;
  open_keyed(db, path_, kKey);
  for (const char* pragma : {"PRAGMA journal_mode = WAL;", "PRAGMA page_size = 16384;", "PRAGMA key = 'x';",
                             "PRAGMA hexrekey = '00';"}) {
    EXPECT_EQ(thrown_code([&] { db.execDML(pragma); }), SQLITE_ERROR) << pragma;
    db.execDML("PRAGMA locking_mode = EXCLUSIVE;");  // WAL without shared memory is refused too
  }
  db.execDML("PRAGMA mmap_size = 1000000; VACUUM;");
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM t;"), 200);
  EXPECT_EQ(db.execScalar("PRAGMA page_size;"), 4096);
  EXPECT_STREQ(db.execQuery("PRAGMA journal_mode;").getStringField(0), "delete");
  EXPECT_EQ(db.execScalar("PRAGMA temp_store;"), 2);
  EXPECT_EQ(read_file(path_).find(kMarker), std::string::npos);

  db.close();

  // Memory mapping turned on before the key: pages are still read through the cipher.
  CppSQLite3DB mapped;
  mapped.open(path_.c_str());
  mapped.execDML("PRAGMA mmap_size = 1000000;");
  mapped.setKey(kKey.data(), static_cast<int>(kKey.size()));
  EXPECT_EQ(mapped.execScalar("SELECT count(*) FROM t WHERE body LIKE 'MARKER%';"), 200);
}

TEST_F(CodecTest, RekeyRewritesEveryPageUnderTheNewKey) {
  fill(path_, kKey);
  const std::string next = "aes256:" + std::string(32, 'n');
  {
    CppSQLite3DB db;
    open_keyed(db, path_, kKey);
    ASSERT_EQ(kestrun_sqlite3_rekey(db.handle(), next.data(), static_cast<int>(next.size())), SQLITE_OK);
    void* key = nullptr;
    int len = 0;
    kestrun_sqlite3CodecGetKey(db.handle(), 0, &key, &len);
    EXPECT_EQ(std::string(static_cast<char*>(key), len), next);
    EXPECT_EQ(db.execScalar("SELECT count(*) FROM t;"), 200);
  }
  for (const auto& [key, code] : {std::pair{kKey, SQLITE_NOTADB}, std::pair{next, SQLITE_OK}}) {
    CppSQLite3DB db;
    open_keyed(db, path_, key);
    EXPECT_EQ(thrown_code([&] { db.execScalar("SELECT count(*) FROM t;"); }), code);
  }
  {
    CppSQLite3DB db;
    open_keyed(db, path_, next);
    ASSERT_EQ(kestrun_sqlite3_rekey(db.handle(), "", 0), SQLITE_OK);  // decrypts
    void* key = &db;
    int len = -1;
    kestrun_sqlite3CodecGetKey(db.handle(), 0, &key, &len);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(len, 0);
  }
  EXPECT_NE(read_file(path_).find(kMarker), std::string::npos);
  {
    CppSQLite3DB db;
    open_keyed(db, path_, "");
    EXPECT_EQ(db.execScalar("SELECT count(*) FROM t;"), 200);
  }
  // A file that never had a key gets room for nonces when it is first encrypted.
  const std::string plain = dir_.file("plain.db");
  fill(plain, "");
  EXPECT_EQ(read_file(plain)[20], 0);
  {
    CppSQLite3DB db;
    open_keyed(db, plain, "");
    ASSERT_EQ(kestrun_sqlite3_rekey(db.handle(), kKey.data(), 32), SQLITE_OK);
  }
  EXPECT_EQ(read_file(plain)[20], 12);
  EXPECT_EQ(read_file(plain).find(kMarker), std::string::npos);
  CppSQLite3DB db;
  open_keyed(db, plain, kKey);
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM t;"), 200);
  EXPECT_STREQ(db.execQuery("PRAGMA integrity_check;").getStringField(0), "ok");
}

TEST_F(CodecTest, ANewFileTakesAnyPageSize) {
  for (int page_size : {512, 16384, 65536}) {
    const std::string path = dir_.file("p" + std::to_string(page_size));
    // Opened before the file has a page, so it first reads page 1 in the default page size, which
    // may reach past the end of a small file.
    CppSQLite3DB early;
    open_keyed(early, path, kKey);
    {
      CppSQLite3DB db;
      open_keyed(db, path, kKey);
      db.execDML(("PRAGMA page_size = " + std::to_string(page_size) + ";").c_str());
      db.execDML("CREATE TABLE t (v);");
    }
    EXPECT_EQ(thrown_code([&] { EXPECT_EQ(early.execScalar("SELECT count(*) FROM t;"), 0); }), SQLITE_OK)
        << page_size;
    {
      CppSQLite3DB db;
      open_keyed(db, path, kKey);
      db.execDML("INSERT INTO t VALUES (zeroblob(100000));");
    }
    const std::string disk = read_file(path);
    EXPECT_EQ(disk.size() % page_size, 0u);
    CppSQLite3DB db;
    open_keyed(db, path, kKey);
    EXPECT_EQ(db.execScalar("PRAGMA page_size;"), page_size);
    EXPECT_EQ(db.execScalar("SELECT length(v) FROM t;"), 100000);
    EXPECT_STREQ(db.execQuery("PRAGMA integrity_check;").getStringField(0), "ok");
    EXPECT_EQ(thrown_code([&] { EXPECT_EQ(early.execScalar("SELECT length(v) FROM t;"), 100000); }),
              SQLITE_OK)
        << page_size;
  }
}

TEST_F(CodecTest, ARollbackRestoresEveryPageOfATransactionThatSpilled) {
  // Each spill of a full cache starts a new journal header right after the last record; whenever
  // that record ended on a sector boundary, the header must not be taken for a page image. The
  // cache sizes make spills after record counts around one sector's worth (64 records here).
  CppSQLite3DB db;
  open_keyed(db, path_, kKey);
  db.execDML("PRAGMA page_size = 512; CREATE TABLE t (id INTEGER PRIMARY KEY, v BLOB);");
  db.execDML(
      "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 200) "
      "INSERT INTO t (v) SELECT zeroblob(300) FROM c;");
  for (int cache_size = 60; cache_size <= 90; ++cache_size) {
    db.execDML(("PRAGMA cache_size = " + std::to_string(cache_size) + ";").c_str());
    db.execDML("BEGIN; UPDATE t SET v = randomblob(300);");
    db.execDML("ROLLBACK;");
    ASSERT_EQ(db.execScalar("SELECT count(*) FROM t WHERE v != zeroblob(300);"), 0) << cache_size;
  }
}

TEST_F(CodecTest, AKilledTransactionRollsBackThroughTheCipher) {
  fill(path_, kKey);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Dies with dirty pages already written over the file, so only the journal can repair it.
    CppSQLite3DB db;
    open_keyed(db, path_, kKey);
    db.execDML("PRAGMA cache_size = 2; BEGIN;");
    db.execDML("UPDATE t SET body = 'uncommitted';");
    db.execDML("INSERT INTO t (body) SELECT 'uncommitted' FROM t;");
    kill(getpid(), SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  const std::string journal = read_file(path_ + "-journal");
  ASSERT_GT(journal.size(), 4096u) << "the child died with a hot journal";
  EXPECT_EQ(journal.find(kMarker), std::string::npos);

  CppSQLite3DB db;
  open_keyed(db, path_, kKey);
  EXPECT_STREQ(db.execQuery("PRAGMA integrity_check;").getStringField(0), "ok");
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM t WHERE body LIKE 'MARKER%';"), 200);
  EXPECT_EQ(db.execScalar("SELECT count(*) FROM t;"), 200);
}

}  // namespace
