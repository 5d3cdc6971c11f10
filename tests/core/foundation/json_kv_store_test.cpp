#include "core/foundation/json_kv_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/foundation/durable.h"
#include "core/foundation/memory_store.h"

namespace libkestrun {
namespace {

class JsonKvStoreTest : public ::testing::Test {
 protected:
  void put_text(const std::string& key, const std::string& text) {
    base_->set(key, KvStore::Bytes(text.begin(), text.end()));
  }
  std::string text_of(const std::string& key) {
    auto bytes = base_->get(key);
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<absent>";
  }

  std::shared_ptr<MemoryStore> base_ = std::make_shared<MemoryStore>();
  JsonKvStore store_{base_};
};

TEST_F(JsonKvStoreTest, TypedReadsAcceptOnlyTheirJsonType) {
  put_text("real", "3.9");
  put_text("negative", "-3.9");
  put_text("one", "1");
  put_text("text", "\"s\"");
  put_text("null", "null");
  put_text("broken", "{not json");

  EXPECT_EQ(store_.get<int>("real"), 3);
  EXPECT_EQ(store_.get<int>("negative"), -3);
  EXPECT_EQ(store_.get_double("real"), 3.9);
  EXPECT_FALSE(store_.get_bool("one"));
  EXPECT_FALSE(store_.get_double("text"));
  EXPECT_EQ(store_.get_string("text"), "s");
  EXPECT_FALSE(store_.get_json("broken"));
  EXPECT_FALSE(store_.get_json("absent"));
  ASSERT_TRUE(store_.get_json("null"));  // a stored null is present
  EXPECT_TRUE(store_.get_default<jsonette::Json>("null", jsonette::Json("fallback")).is_null());
  EXPECT_EQ(store_.get_default<int>("text", 7), 7);
}

TEST_F(JsonKvStoreTest, IntegersKeepAllSixtyFourBits) {
  const unsigned long long token = 1234567890123456789ULL;  // not exact as a double
  store_.set<unsigned long long>("token", token);
  EXPECT_EQ(text_of("token"), "1234567890123456789");
  EXPECT_EQ(store_.get<unsigned long long>("token"), token);
  // Past the signed range an unsigned value is written as its digits and reads back whole.
  for (unsigned long long wide : {9223372036854775808ULL, 18446744073709551615ULL, 18446744073709551557ULL}) {
    store_.set<unsigned long long>("wide", wide);
    EXPECT_EQ(text_of("wide"), std::to_string(wide));
    EXPECT_EQ(store_.get<unsigned long long>("wide"), wide);
    EXPECT_EQ(Durable<unsigned long long>("wide", base_, 0).get(), wide);
  }
  put_text("padded", "0018446744073709551615");  // not JSON
  EXPECT_FALSE(store_.get<unsigned long long>("padded"));
  store_.set<int>("count", -5);
  EXPECT_EQ(text_of("count"), "-5");
  EXPECT_EQ(store_.get<int>("count"), -5);

  // Numbers outside the type's range read as nothing rather than as a wrapped value.
  put_text("big", "9223372036854775807");
  put_text("huge", "1e300");
  EXPECT_FALSE(store_.get<int>("big"));
  EXPECT_FALSE(store_.get<int>("huge"));
  EXPECT_FALSE(store_.get<unsigned long long>("count"));
  EXPECT_EQ(store_.get<unsigned long long>("big"), 9223372036854775807ULL);
}

TEST_F(JsonKvStoreTest, WritesJsonTextThatBothSidesSee) {
  store_.set("name", std::string("quoted \"x\""));
  EXPECT_EQ(text_of("name"), "\"quoted \\\"x\\\"\"");
  store_.set("map", std::map<std::string, std::map<std::string, bool>>{{"a", {{"b", true}}}});
  EXPECT_EQ(text_of("map"), "{\"a\":{\"b\":true}}");
  std::vector<std::string> keys;
  store_.for_each_key([&](const std::string& key) { keys.push_back(key); });
  EXPECT_EQ(keys, (std::vector<std::string>{"map", "name"}));
}

TEST_F(JsonKvStoreTest, ADurableLoadsOnceAndRewritesItsWholeValue) {
  {
    Durable<int> count("count", base_, 4);
    EXPECT_EQ(count.get(), 4);
    EXPECT_EQ(text_of("count"), "<absent>");  // nothing written until assigned
    count = 9;
  }
  EXPECT_EQ(Durable<int>("count", base_, 0).get(), 9);

  put_text("mixed", "{\"n\": 1, \"s\": \"x\", \"r\": 2.5}");
  Durable<std::map<std::string, int>> counts("mixed", base_, {{"default", 1}});
  EXPECT_EQ(counts.get(), (std::map<std::string, int>{{"n", 1}, {"r", 2}}));
  EXPECT_EQ(counts.erase("absent"), 0u);
  EXPECT_EQ(text_of("mixed"), "{\"n\": 1, \"s\": \"x\", \"r\": 2.5}");
  EXPECT_EQ(counts.erase("n"), 1u);
  EXPECT_EQ(text_of("mixed"), "{\"r\":2}");
  counts.set("t", 3);
  EXPECT_EQ(text_of("mixed"), "{\"r\":2,\"t\":3}");
  counts.clear();
  EXPECT_EQ(text_of("mixed"), "{}");
  EXPECT_TRUE((Durable<std::map<std::string, int>>("mixed", base_, {{"default", 1}}).get().empty()));

  Durable<std::map<std::string, unsigned long long>> tokens("tokens", base_, {});
  tokens.set("account", 18446744073709551ULL * 100 + 15);
  EXPECT_EQ((Durable<std::map<std::string, unsigned long long>>("tokens", base_, {}).get().at("account")),
            1844674407370955115ULL);
}

// A store whose writes fail on demand.
class FailingStore final : public KvStore {
 public:
  std::optional<Bytes> get(const std::string& key) override { return inner.get(key); }
  void set(const std::string& key, const Bytes& value) override {
    if (fail) throw std::runtime_error("disk full");
    inner.set(key, value);
  }
  void erase(const std::string& key) override { inner.erase(key); }
  void for_each_key(const KeyFn& fn) override { inner.for_each_key(fn); }
  MemoryStore inner;
  bool fail = false;
};

TEST(Durable, AFailedWriteLeavesTheHeldValueAsItWas) {
  auto store = std::make_shared<FailingStore>();
  Durable<int> count("count", store, 1);
  Durable<std::map<std::string, bool>> flags("flags", store, {});
  flags.set("a", true);
  store->fail = true;
  EXPECT_THROW(count = 2, std::runtime_error);
  EXPECT_THROW(flags.set("b", true), std::runtime_error);
  EXPECT_THROW(flags.erase("a"), std::runtime_error);
  EXPECT_THROW(flags.clear(), std::runtime_error);
  EXPECT_EQ(count.get(), 1);
  EXPECT_EQ(flags.get(), (std::map<std::string, bool>{{"a", true}}));
}

}  // namespace
}  // namespace libkestrun
