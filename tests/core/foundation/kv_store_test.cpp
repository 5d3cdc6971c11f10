#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/scoped_kv_store.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

using Bytes = KvStore::Bytes;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<std::string> keys_of(KvStore& store) {
  std::vector<std::string> keys;
  store.for_each_key([&](const std::string& key) { keys.push_back(key); });
  return keys;
}

// Every store, and the JSON store and a view over one on disk, keeps the same contract.
class KvStoreContract : public ::testing::TestWithParam<std::string> {
 protected:
  // The store; for those on disk, the database opened afresh at each call.
  std::shared_ptr<KvStore> open() {
    if (GetParam() == "memory") return memory_;
    auto leveldb = std::make_shared<LeveldbStore>(dir_.file("db"));
    if (GetParam() == "leveldb") return leveldb;
    if (GetParam() == "json") return std::make_shared<JsonKvStore>(leveldb);
    return std::make_shared<ScopedKvStore>("scope!", leveldb);
  }
  kestrun_test::TempDir dir_;
  std::shared_ptr<KvStore> memory_ = std::make_shared<MemoryStore>();
};

TEST_P(KvStoreContract, KeepsBytesExactlyAcrossReopeningAndReportsKeysInByteOrder) {
  auto store = open();
  EXPECT_FALSE(store->get("absent"));
  store->erase("absent");

  const Bytes binary = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x00};
  store->set("b", binary);
  store->set("empty", {});
  store->set("a", bytes("one"));
  store->set("a", bytes("two"));
  store->set("\xC3\xA9", bytes("high"));
  store->set("~", bytes("tilde"));
  store->set("gone", bytes("x"));
  store->erase("gone");
  store.reset();  // closes a database on disk
  store = open();

  EXPECT_FALSE(store->get("gone"));
  EXPECT_EQ(store->get("b"), binary);
  ASSERT_TRUE(store->get("empty"));  // present, though empty
  EXPECT_TRUE(store->get("empty")->empty());
  EXPECT_EQ(store->get("a"), bytes("two"));
  EXPECT_EQ(keys_of(*store), (std::vector<std::string>{"a", "b", "empty", "~", "\xC3\xA9"}));

  store->erase("b");
  EXPECT_FALSE(store->get("b"));
  EXPECT_EQ(keys_of(*store), (std::vector<std::string>{"a", "empty", "~", "\xC3\xA9"}));
}

INSTANTIATE_TEST_SUITE_P(Stores, KvStoreContract, ::testing::Values("memory", "leveldb", "json", "scoped"));

TEST(ScopedKvStore, ListsExactlyTheKeysOfItsPrefix) {
  struct Case {
    std::string prefix;
    std::vector<std::string> listed;  // as the view reports them
  };
  // Keys around the prefixes: the bare prefix, "~" and bytes from 0x7E up after it, other prefixes.
  const std::vector<std::string> stored = {"",      "p",           "p!",         "p!a",        "p!~",
                                           "p!~x",  "p!\x7F",      "p!\xC3\xA9", "p!\xFF\xFF", "p\"",
                                           "p\x7E", "p!!nested!k", "q!a",        "o!a",        "pp!a"};
  const Case cases[] = {
      {"p!", {"", "!nested!k", "a", "~", "~x", "\x7F", "\xC3\xA9", "\xFF\xFF"}},
      {"p!!nested!", {"k"}},
      {"q!", {"a"}},
      {"z", {}},
      {"", stored},
  };
  for (bool on_disk : {false, true}) {
    kestrun_test::TempDir dir;
    std::shared_ptr<KvStore> base;
    if (on_disk) {
      base = std::make_shared<LeveldbStore>(dir.file("db"));
    } else {
      base = std::make_shared<MemoryStore>();
    }
    for (const auto& key : stored) base->set(key, bytes(key));
    for (const auto& c : cases) {
      ScopedKvStore view(c.prefix, base);
      std::vector<std::string> expected = c.listed;
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(keys_of(view), expected) << "prefix " << c.prefix << (on_disk ? " on disk" : " in memory");
      for (const auto& key : c.listed) EXPECT_EQ(view.get(key), bytes(c.prefix + key));
    }
  }
}

TEST(ScopedKvStore, WritesUnderItsPrefixAndKeepsTheStoreAlive) {
  auto base = std::make_shared<MemoryStore>();
  auto view = std::make_shared<ScopedKvStore>("scope!", base);
  ScopedKvStore nested("inner!", view);
  base.reset();
  nested.set("k", bytes("v"));
  EXPECT_EQ(keys_of(*view), (std::vector<std::string>{"inner!k"}));
  EXPECT_EQ(view->get("inner!k"), bytes("v"));
  nested.erase("k");
  EXPECT_TRUE(keys_of(*view).empty());
}

TEST(MemoryStore, AWalkReportsTheKeysPresentWhenItBeganWhileTheyAreErased) {
  MemoryStore store(MemoryStore::Contents{{"a", {}}, {"b", {}}, {"c", {}}});
  std::vector<std::string> seen;
  store.for_each_key([&](const std::string& key) {
    seen.push_back(key);
    store.erase(key);
    store.set("z" + key, {});
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(keys_of(store), (std::vector<std::string>{"za", "zb", "zc"}));
}

TEST(LeveldbStore, SyncedValuesSurviveReopening) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("fresh");  // no database there yet
  { LeveldbStore(path).set_synced("synced", bytes("s")); }
  EXPECT_EQ(LeveldbStore(path).get("synced"), bytes("s"));
}

TEST(LeveldbStore, OpenFailuresCarryLevelDbsText) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("db");
  {
    LeveldbStore holder(path);
    try {
      LeveldbStore second(path);
      FAIL() << "a held directory opened twice";
    } catch (const LeveldbStore::IOError& e) {
      EXPECT_NE(std::string(e.what()).find("IO error"), std::string::npos) << e.what();
    }
  }
  std::ofstream(path + "/CURRENT", std::ios::trunc) << "garbage";
  try {
    LeveldbStore damaged(path);
    FAIL() << "a damaged database opened";
  } catch (const LeveldbStore::CorruptionError& e) {
    EXPECT_NE(std::string(e.what()).find("Corruption"), std::string::npos) << e.what();
  }
  std::ofstream(dir.file("plain")) << "a file, not a directory";
  EXPECT_THROW(LeveldbStore{dir.file("plain/db")}, LeveldbStore::IOError);
}

// A child process writes and reports each write that returned; it is killed without warning.
// Another process's hold on the directory is refused while it lives, and after the kill every
// reported write is there.
TEST(LeveldbStore, AKilledWriterLosesNothingItReportedWritten) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("db");
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child never returns into the test framework, whatever happens.
    close(acks[0]);
    try {
      LeveldbStore store(path);
      for (uint32_t i = 0;; ++i) {
        store.set("key" + std::to_string(i), bytes(std::string(100, 'v') + std::to_string(i)));
        if (write(acks[1], &i, sizeof i) != sizeof i) _exit(1);
      }
    } catch (...) {
      _exit(2);
    }
  }
  close(acks[1]);
  uint32_t reported = 0, last = 0;
  while (reported < 500 && read(acks[0], &last, sizeof last) == sizeof last) ++reported;
  ASSERT_EQ(reported, 500u);
  EXPECT_THROW(LeveldbStore{path}, LeveldbStore::IOError);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  while (read(acks[0], &last, sizeof last) == sizeof last) ++reported;  // acks still in the pipe
  close(acks[0]);

  LeveldbStore store(path);
  for (uint32_t i = 0; i < reported; ++i) {
    ASSERT_EQ(store.get("key" + std::to_string(i)), bytes(std::string(100, 'v') + std::to_string(i))) << i;
  }
}

}  // namespace
}  // namespace libkestrun

namespace libkestrun {
namespace {

// Zeroes a stretch in the middle of every table file, as a damaged disk would.
void damage_tables(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    if (entry.path().extension() != ".ldb") continue;
    std::fstream file(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
    auto size = std::filesystem::file_size(entry.path());
    file.seekp(static_cast<std::streamoff>(size / 3));
    std::string zeros(static_cast<size_t>(size / 3), '\0');
    file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
}

TEST(LeveldbStore, AWalkThatHitsDamageThrowsInsteadOfLookingComplete) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("db");
  for (int pass = 0; pass < 2; ++pass) {  // the second open moves the log into a table file
    LeveldbStore store(path);
    for (int i = 0; pass == 0 && i < 2000; ++i)
      store.set("key" + std::to_string(10000 + i), bytes(std::string(200, 'v')));
  }
  damage_tables(path);
  LeveldbStore store(path);
  size_t seen = 0;
  EXPECT_THROW(store.for_each_key([&](const std::string&) { ++seen; }), LeveldbStore::CorruptionError);
  EXPECT_LT(seen, 2000u);
}

}  // namespace
}  // namespace libkestrun
