#include <gtest/gtest.h>

#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/scoped_kv_store.h"
#include "support/damaged_files.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

using kestrun_test::flip_byte_of;
using kestrun_test::read_file;

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
  {
    LeveldbStore store(path);
    store.set("synced", bytes("s"));
    store.sync();
  }
  EXPECT_EQ(LeveldbStore(path).get("synced"), bytes("s"));
}

TEST(LeveldbStore, ASecondOpenerOfAHeldDirectoryGetsLevelDbsText) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("db");
  LeveldbStore holder(path);
  try {
    LeveldbStore second(path);
    FAIL() << "a held directory opened twice";
  } catch (const LeveldbStore::IOError& e) {
    EXPECT_NE(std::string(e.what()).find("IO error"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

// Bytes no compressor shortens, so that they stand in the files as written.
std::string noise(uint32_t seed, size_t n) {
  std::string out(n, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

// Damage never reads as an altered value: the database is repaired, every record that can still
// be read comes back as written, a damaged record reads as absent, and the store goes on working.
TEST(LeveldbStore, DamageIsRepairedAndNeverReadsAsAnAlteredValue) {
  struct Case {
    const char* name;
    bool in_table;  // the records moved from the log into a table file before the damage
    std::function<void(const std::string& path, const std::string& victim)> damage;
    bool victim_survives;
  };
  const Case cases[] = {
      {"lost CURRENT", true,
       [](const std::string& path, const std::string&) { std::filesystem::remove(path + "/CURRENT"); }, true},
      {"lost CURRENT, records in the log", false,
       [](const std::string& path, const std::string&) { std::filesystem::remove(path + "/CURRENT"); }, true},
      {"garbage CURRENT", true,
       [](const std::string& path, const std::string&) {
         std::ofstream(path + "/CURRENT", std::ios::trunc) << "garbage";
       },
       true},
      {"flipped byte in a table", true,
       [](const std::string& path, const std::string& victim) {
         ASSERT_TRUE(flip_byte_of(path, ".ldb", victim));
       },
       false},
      {"flipped byte in the log", false,
       [](const std::string& path, const std::string& victim) {
         ASSERT_TRUE(flip_byte_of(path, ".log", victim));
       },
       false},
  };
  const std::string victim = noise(7, 64);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kestrun_test::TempDir dir;
    const std::string path = dir.file("db");
    {
      LeveldbStore store(path);
      store.set("victim", bytes(victim));
      store.set("other", bytes("kept"));
    }
    if (c.in_table) LeveldbStore{path};  // recovering the log writes it into a table
    c.damage(path, victim);

    LeveldbStore store(path);
    std::optional<Bytes> read = store.get("victim");
    if (c.victim_survives) {
      EXPECT_EQ(read, bytes(victim));
      EXPECT_EQ(store.get("other"), bytes("kept"));
    } else if (read) {
      EXPECT_EQ(*read, bytes(victim));  // another copy may have survived, never an altered one
    }
    store.set("after", bytes("works"));
    EXPECT_EQ(store.get("after"), bytes("works"));
  }
}

// The writer of the kill test below, in a process of its own: the test program started again
// with these variables set. It writes and reports each write that returned until it is killed,
// and never reaches the test framework.
constexpr char kWriterPath[] = "KESTRUN_TEST_LEVELDB_WRITER";
constexpr char kWriterAcks[] = "KESTRUN_TEST_LEVELDB_WRITER_ACKS";

std::string written_value(uint32_t i) {
  return std::string(1000, static_cast<char>('a' + i % 26)) + std::to_string(i);
}

[[maybe_unused]] const bool kStartedAsWriter = [] {
  const char* path = std::getenv(kWriterPath);
  const char* acks = std::getenv(kWriterAcks);
  if (!path || !acks) return false;
  const int fd = std::atoi(acks);
  try {
    LeveldbStore store(path);
    for (uint32_t i = 0;; ++i) {
      store.set("key" + std::to_string(i), bytes(written_value(i)));
      if (write(fd, &i, sizeof i) != sizeof i) _exit(1);
    }
  } catch (...) {
    _exit(2);
  }
}();

// A fresh process writes enough to go through memtable flushes and a compaction, and is killed
// without warning. Another hold on the directory is refused while it lives; after the kill every
// write it reported is there.
TEST(LeveldbStore, AKilledWriterLosesNothingItReportedWritten) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("db");
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(acks[0]);
    setenv(kWriterPath, path.c_str(), 1);
    setenv(kWriterAcks, std::to_string(acks[1]).c_str(), 1);
    execl("/proc/self/exe", "writer", static_cast<char*>(nullptr));
    _exit(3);
  }
  close(acks[1]);
  // About 40 MB: ten flushes of the 4 MB memtable, and so compactions of level 0.
  const uint32_t enough = 40000;
  uint32_t reported = 0, last = 0;
  while (reported < enough && read(acks[0], &last, sizeof last) == sizeof last) ++reported;
  ASSERT_EQ(reported, enough);
  EXPECT_THROW(LeveldbStore{path}, LeveldbStore::IOError);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  while (read(acks[0], &last, sizeof last) == sizeof last) ++reported;  // acks still in the pipe
  close(acks[0]);
  // The refused opener moved the writer's info log aside to LOG.old.
  EXPECT_NE((read_file(path + "/LOG.old") + read_file(path + "/LOG")).find("Compacted"), std::string::npos)
      << "no compaction ran";

  LeveldbStore store(path);
  for (uint32_t i = 0; i < reported; ++i) {
    ASSERT_EQ(store.get("key" + std::to_string(i)), bytes(written_value(i))) << i;
  }
}

// A write that fails on a full disk is reported; once space returns, the store goes on, and
// after reopening every write it acknowledged, before and after the failure, is there.
TEST(LeveldbStore, AFullDiskLosesNoAcknowledgedWrite) {
  kestrun_test::TempDir dir;
  kestrun_test::ScratchMount disk = kestrun_test::ScratchMount::tmpfs(dir.path(), 2 << 20);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const std::string path = dir.file("db");
  std::vector<uint32_t> acknowledged;
  uint32_t next = 0;
  auto write_some = [&](LeveldbStore& store, uint32_t count) {
    bool failed = false;
    for (uint32_t n = 0; n < count; ++n, ++next) {
      try {
        store.set("key" + std::to_string(next), bytes(written_value(next)));
        acknowledged.push_back(next);
      } catch (const LeveldbStore::IOError&) {
        failed = true;
      }
    }
    return failed;
  };
  {
    LeveldbStore store(path);
    write_some(store, 50);
    // Fill the disk but for a little room.
    struct statvfs fs {};
    ASSERT_EQ(statvfs(dir.path().c_str(), &fs), 0);
    const size_t room = 40 * 1024;
    std::ofstream(dir.file("filler"), std::ios::binary) << std::string(fs.f_bavail * fs.f_frsize - room, 'f');
    EXPECT_TRUE(write_some(store, 200)) << "the disk never filled";
    std::filesystem::remove(dir.file("filler"));
    EXPECT_FALSE(write_some(store, 50));
  }
  LeveldbStore store(path);
  for (uint32_t i : acknowledged)
    ASSERT_EQ(store.get("key" + std::to_string(i)), bytes(written_value(i))) << i;
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

// A walk that meets damaged or missing table files throws instead of looking complete; the
// damage is repaired, so the next walk reports the keys that survived.
TEST(LeveldbStore, AWalkThatHitsDamageThrowsInsteadOfLookingComplete) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
  };
  const Case cases[] = {
      {"zeroed tables", damage_tables},
      {"a table file gone while open",
       [](const std::string& path) {
         for (const auto& entry : std::filesystem::directory_iterator(path))
           if (entry.path().extension() == ".ldb") std::filesystem::remove(entry.path());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kestrun_test::TempDir dir;
    const std::string path = dir.file("db");
    for (int pass = 0; pass < 2; ++pass) {  // the second open moves the log into a table file
      LeveldbStore store(path);
      for (int i = 0; pass == 0 && i < 2000; ++i)
        store.set("key" + std::to_string(10000 + i), bytes(std::string(200, 'v')));
    }
    LeveldbStore store(path);  // opened before the damage: its tables are not read yet
    c.damage(path);
    size_t seen = 0;
    try {
      store.for_each_key([&](const std::string&) { ++seen; });
      ADD_FAILURE() << "the walk looked complete";
    } catch (const LeveldbStore::CorruptionError&) {
    } catch (const LeveldbStore::IOError&) {
    }
    EXPECT_EQ(seen, 0u);
    std::vector<std::string> survivors = keys_of(store);
    EXPECT_LT(survivors.size(), 2000u);
    for (const std::string& key : survivors) EXPECT_EQ(store.get(key), bytes(std::string(200, 'v')));
  }
}

}  // namespace
}  // namespace libkestrun
