#include "core/store/vector_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace libkestrun::internal {
namespace {

VectorClock clock(VectorClock::Entries entries) { return VectorClock(std::move(entries)); }

jsonette::Json parse(const std::string& text) {
  std::string error;
  jsonette::Json value = jsonette::Json::parse(text, error);
  EXPECT_TRUE(error.empty()) << text;
  return value;
}

TEST(VectorClock, HappenedBefore) {
  struct Case {
    VectorClock::Entries a;
    VectorClock::Entries b;
    bool a_before_b;
    bool b_before_a;
  };
  const Case cases[] = {
      {{}, {}, false, false},
      {{}, {{"A", 0}}, true, false},  // a present 0 is more than nothing
      {{{"A", 1}}, {{"A", 1}, {"B", 0}}, true, false},
      {{{"A", 1}, {"B", 1}}, {{"A", 1}, {"B", 2}}, true, false},
      {{{"A", 2}}, {{"A", 1}, {"B", 5}}, false, false},            // concurrent
      {{{"A", 1}, {"C", 1}}, {{"A", 9}, {"B", 9}}, false, false},  // C missing in b
      {{{"B", 1}}, {{"A", 1}, {"B", 1}}, true, false},             // b's extra key sorts first
      {{{"A", 3}, {"B", 4}}, {{"A", 3}, {"B", 4}}, false, false},
      {{{"A", 4294967295u}}, {{"A", 1}}, false, true},  // counters compare unsigned
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clock(c.a) < clock(c.b), c.a_before_b)
        << clock(c.a).to_json().dump() << " < " << clock(c.b).to_json().dump();
    EXPECT_EQ(clock(c.b) < clock(c.a), c.b_before_a)
        << clock(c.b).to_json().dump() << " < " << clock(c.a).to_json().dump();
  }
}

TEST(VectorClock, IncrementedCopiesAndSaturates) {
  const VectorClock empty;
  EXPECT_EQ(empty.incremented("D"), clock({{"D", 1}}));
  EXPECT_TRUE(empty.entries().empty());

  const VectorClock two = clock({{"D", 1}, {"E", 7}});
  EXPECT_EQ(two.incremented("D"), clock({{"D", 2}, {"E", 7}}));
  EXPECT_EQ(two, clock({{"D", 1}, {"E", 7}}));

  // Wrapping to 0 would make the newer version look older than the one it replaces.
  const VectorClock full = clock({{"D", 4294967295u}});
  EXPECT_EQ(full.incremented("D"), full);
  EXPECT_FALSE(full.incremented("D") < full);
}

TEST(VectorClock, FromJson) {
  struct Case {
    const char* json;
    VectorClock::Entries expected;
  };
  const Case cases[] = {
      {R"({"A":3,"B":"x","C":true,"D":null})", {{"A", 3}, {"B", 1}, {"C", 1}, {"D", 1}}},
      {R"({"A":2.9,"B":-1,"C":-2.5})", {{"A", 2}, {"B", 4294967295u}, {"C", 4294967294u}}},
      {R"({"A":{},"B":[]})", {{"A", 1}, {"B", 1}}},
      {R"({"A":4294967296,"B":1e300})", {{"A", 4294967295u}, {"B", 4294967295u}}},  // saturates
      {R"([1,2])", {}},
      {R"("A")", {}},
      {R"(null)", {}},
  };
  for (const Case& c : cases) {
    VectorClock value = clock({{"OLD", 5}});
    value.from_json(parse(c.json));
    EXPECT_EQ(value, clock(c.expected)) << c.json;
  }
}

TEST(VectorClock, JsonRoundTripKeepsLargeCounters) {
  const VectorClock value = clock({{"A", 3000000000u}, {"dev\"ice", 0}});
  VectorClock read;
  read.from_json(parse(value.to_json().dump()));
  EXPECT_EQ(read, value);
  EXPECT_EQ(VectorClock().to_json().dump(), "{}");
}

}  // namespace
}  // namespace libkestrun::internal
