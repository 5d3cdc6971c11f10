#include "core/foundation/defaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "core/foundation/leveldb_store.h"
#include "core/foundation/memory_store.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

const std::string kKeyKey = "kestrun.encryption.key";
const std::string kCheckKey = "kestrun.defaults.has.been.initialized";

std::string raw(KvStore& store, const std::string& key) {
  auto bytes = store.get(key);
  return bytes ? std::string(bytes->begin(), bytes->end()) : "<absent>";
}

TEST(Defaults, OpensDefaultsdbAndProvesItReadable) {
  kestrun_test::TempDir dir;
  {
    Defaults defaults(dir.path());
    EXPECT_EQ(raw(*defaults.get_store(), kCheckKey), "true");
    defaults.set_string(kCheckKey, "false");  // the next start rewrites it
    defaults.set_json("kept", jsonette::Json("value"));
  }
  Defaults defaults(dir.path());
  EXPECT_EQ(raw(*defaults.get_store(), kCheckKey), "true");
  EXPECT_EQ(defaults.get_json("kept"), jsonette::Json("value"));

  // The store stays open while someone holds it, even after the Defaults is gone.
  std::shared_ptr<KvStore> held = defaults.get_store();
  EXPECT_THROW(Defaults{dir.path()}, LeveldbStore::IOError);
}

TEST(Defaults, TheEncryptionKeyIsThirtyTwoStoredBytesAcrossRestarts) {
  kestrun_test::TempDir dir;
  std::string first;
  {
    Defaults defaults(dir.path());
    first = defaults.get_encryption_key();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(raw(*defaults.get_store(), kKeyKey), first);  // raw bytes, not hex or JSON
    EXPECT_EQ(defaults.get_encryption_key(), first);
  }
  Defaults defaults(dir.path());
  EXPECT_EQ(defaults.get_encryption_key(), first);

  defaults.erase(kKeyKey);
  std::string after_erase = defaults.get_encryption_key();
  EXPECT_EQ(after_erase.size(), 32u);
  EXPECT_NE(after_erase, first);

  // A stored key is handed out as it was written, whatever its length: never replaced.
  for (std::string stored : {std::string(16, 'k'), std::string(33, 'k')}) {
    defaults.set_string(kKeyKey, stored);
    EXPECT_EQ(defaults.get_encryption_key(), stored);
  }
}

// Damage to "defaultsdb" that LevelDB's repair can mend gives back the same key.
TEST(Defaults, TheKeySurvivesALostOrDamagedCurrentFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
  };
  const Case cases[] = {
      {"lost", [](const std::string& db) { std::filesystem::remove(db + "/CURRENT"); }},
      {"garbage",
       [](const std::string& db) { std::ofstream(db + "/CURRENT", std::ios::trunc) << "garbage"; }},
      {"empty", [](const std::string& db) { std::ofstream(db + "/CURRENT", std::ios::trunc); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kestrun_test::TempDir dir;
    std::string key = Defaults(dir.path()).get_encryption_key();
    c.damage(dir.file("defaultsdb"));
    EXPECT_EQ(Defaults(dir.path()).get_encryption_key(), key);
  }
}

// A subclass that keeps the key elsewhere sees get_encryption_key go through its overrides.
TEST(Defaults, TheEncryptionKeyGoesThroughTheStringOperations) {
  class Elsewhere : public Defaults {
   public:
    using Defaults::Defaults;
    std::string get_string(const std::string& key, bool& found) override {
      auto it = kept.find(key);
      if (it == kept.end()) return "";
      found = true;
      return it->second;
    }
    void set_string(const std::string& key, const std::string& value) override { kept[key] = value; }
    std::map<std::string, std::string> kept;
  };
  auto store = std::make_shared<MemoryStore>();
  Elsewhere defaults(store);
  std::string key = defaults.get_encryption_key();
  EXPECT_EQ(key.size(), 32u);
  EXPECT_EQ(defaults.kept[kKeyKey], key);
  EXPECT_EQ(raw(*store, kKeyKey), "<absent>");
  defaults.kept[kKeyKey] = "set elsewhere";
  EXPECT_EQ(defaults.get_encryption_key(), "set elsewhere");
}

// A directory the store cannot use gives the store's error, never a store without a database.
TEST(Defaults, AnUnusableDirectoryThrowsTheStoresError) {
  kestrun_test::TempDir dir;
  std::ofstream(dir.file("plain")) << "a file, not a directory";
  std::filesystem::create_directory(dir.file("holder"));
  std::ofstream(dir.file("holder/defaultsdb")) << "a file where the database would be";
  std::filesystem::create_directory(dir.file("readonly"));
  kestrun_test::ScratchMount read_only = kestrun_test::ScratchMount::read_only(dir.file("readonly"));
  struct Case {
    const char* name;
    std::string directory;
  };
  const Case cases[] = {
      {"missing parent", dir.file("missing/dir")},
      {"a file", dir.file("plain")},
      {"defaultsdb is a file", dir.file("holder")},
      {"read-only", dir.file("readonly")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.directory == dir.file("readonly") && !read_only.mounted()) continue;
    const std::string path = c.directory + "/defaultsdb";
    try {
      LeveldbStore store(path);
      FAIL() << "opened";
    } catch (const LeveldbStore::IOError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_THROW(Defaults{c.directory}, LeveldbStore::IOError);
    Defaults over_memory(std::make_shared<MemoryStore>());
    EXPECT_THROW(over_memory.open(path), LeveldbStore::IOError);
  }
  if (!read_only.mounted()) GTEST_SKIP() << "no read-only mount here; the other cases ran";
}

TEST(Defaults, ValueReadsOverAStoreGiveNothingForAbsentOrUnparsableText) {
  auto store = std::make_shared<MemoryStore>();
  Defaults defaults(store);
  EXPECT_EQ(raw(*store, kCheckKey), "<absent>");  // no start-up check over a given store

  defaults.set_string("five", "5");
  defaults.set_string("bad", "{oops");
  defaults.set_string("big", "1e300");
  defaults.set_json("text", jsonette::Json("hi"));
  EXPECT_EQ(raw(*store, "text"), "\"hi\"");
  json_t* five = defaults.get_json_t("five");
  ASSERT_TRUE(json_is_integer(five));
  EXPECT_EQ(json_integer_value(five), 5);
  json_decref(five);
  EXPECT_EQ(defaults.get_json_t("bad"), nullptr);
  EXPECT_EQ(defaults.get_json_t("absent"), nullptr);
  EXPECT_TRUE(defaults.get_json("bad").is_null());
  EXPECT_TRUE(defaults.get_json("absent").is_null());

  int number = -1;
  defaults.read_int("bad", number);
  EXPECT_EQ(number, -1);
  defaults.read_int("five", number);
  EXPECT_EQ(number, 5);
  defaults.read_int("big", number);
  EXPECT_EQ(number, std::numeric_limits<int>::max());
  bool flag = false;
  defaults.read_bool("five", flag);
  EXPECT_FALSE(flag);

  bool found = false;
  EXPECT_EQ(defaults.get_string("absent", found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(defaults.get_string("text", found), "\"hi\"");
  EXPECT_TRUE(found);

  json_t* object = json_pack("{s:i, s:[b]}", "a", 1, "b", 1);
  defaults.set_json_t_and_release("obj", object);
  EXPECT_EQ(defaults.get_json("obj"),
            jsonette::Json(jsonette::Json::object{{"a", 1}, {"b", jsonette::Json::array{true}}}));

  std::string key = defaults.get_encryption_key();
  EXPECT_EQ(raw(*store, kKeyKey), key);
}

TEST(Defaults, OpenReplacesTheStoreOnlyWhenItSucceeds) {
  kestrun_test::TempDir dir;
  auto memory = std::make_shared<MemoryStore>();
  Defaults defaults(memory);
  std::ofstream(dir.file("plain")) << "a file, not a directory";
  EXPECT_THROW(defaults.open(dir.file("plain/db")), LeveldbStore::IOError);
  EXPECT_EQ(defaults.get_store(), memory);

  EXPECT_TRUE(defaults.open(dir.file("db")));
  defaults.set_string("k", "v");
  EXPECT_FALSE(memory->get("k"));
}

}  // namespace
}  // namespace libkestrun
