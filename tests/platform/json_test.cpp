#include "jsonette/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>

namespace jsonette {
namespace {

TEST(Json, NumbersCompareByValueAcrossIntegerAndDouble) {
  EXPECT_EQ(Json(3), Json(3.0));
  EXPECT_NE(Json(3), Json(3.5));
  EXPECT_NE(Json(int64_t{9007199254740993}), Json(9007199254740992.0));  // no rounding
  EXPECT_EQ(Json(int64_t{-2}), Json(-2.0));
  EXPECT_LT(Json(2), Json(2.5));
}

TEST(Json, IntegersKeep64BitPrecision) {
  const int64_t big = std::numeric_limits<int64_t>::max();
  std::string err;
  Json parsed = Json::parse("{\"n\":9223372036854775807,\"m\":-9223372036854775808}", err);
  ASSERT_TRUE(err.empty());
  EXPECT_EQ(parsed["n"].int64_value(), big);
  EXPECT_EQ(parsed["m"].int64_value(), std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(parsed["n"].is_integer());
  EXPECT_EQ(Json(big).dump(), "9223372036854775807");
}

TEST(Json, IntValueSaturatesOutOfRange) {
  const int kMax = std::numeric_limits<int>::max();
  const int kMin = std::numeric_limits<int>::min();
  const struct {
    Json value;
    int expected;
  } cases[] = {
      {Json(1e300), kMax},
      {Json(-1e300), kMin},
      {Json(std::numeric_limits<double>::infinity()), kMax},
      {Json(int64_t{1} << 32), kMax},
      {Json(-(int64_t{1} << 40)), kMin},
      {Json(-7.9), -7},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.int_value(), c.expected) << c.value.number_value();
}

TEST(Json, AccessorsOfAnotherKindGiveEmptyValues) {
  Json s("text");
  EXPECT_EQ(s.number_value(), 0);
  EXPECT_EQ(s.int_value(), 0);
  EXPECT_FALSE(s.bool_value());
  EXPECT_TRUE(s.array_items().empty());
  EXPECT_TRUE(s.object_items().empty());
  EXPECT_TRUE(s["missing"].is_null());
  EXPECT_EQ(Json(5).string_value(), "");
}

TEST(Json, DumpIsCompactWithSortedMembers) {
  Json v = Json::object{{"b", Json::array{}}, {"a", Json::array{1, "x", nullptr, true}}, {"c", 1.5}};
  EXPECT_EQ(v.dump(), "{\"a\":[1,\"x\",null,true],\"b\":[],\"c\":1.5}");
  EXPECT_EQ(Json(std::string("q\"\\\n\x01", 5)).dump(), "\"q\\\"\\\\\\n\\u0001\"");
}

TEST(Json, BuildsFromStandardContainers) {
  std::map<std::string, int> counts{{"x", 1}, {"y", 2}};
  std::set<std::string> names{"b", "a"};
  EXPECT_EQ(Json(counts).dump(), "{\"x\":1,\"y\":2}");
  EXPECT_EQ(Json(names).dump(), "[\"a\",\"b\"]");
}

TEST(Json, ParsesAndRoundTripsText) {
  const char* cases[] = {
      "null",
      "true",
      "false",
      "0",
      "-1",
      "1.5",
      "0.1",
      "-2.5e-07",
      "1e+300",
      "\"\"",
      "[]",
      "{}",
      "{\"a\":{\"b\":[1,2,{\"c\":\"d\"}]}}",
      "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"",
  };
  for (const char* text : cases) {
    std::string err;
    Json v = Json::parse(text, err);
    EXPECT_TRUE(err.empty()) << text << ": " << err;
    EXPECT_EQ(v.dump(), text);
  }
}

TEST(Json, DecodesEscapes) {
  std::string err;
  EXPECT_EQ(Json::parse("\"\\u00e9\\ud83d\\ude00\\u0000\"", err).string_value(),
            std::string("\xc3\xa9\xf0\x9f\x98\x80\0", 7));
  EXPECT_TRUE(err.empty());
}

TEST(Json, BadInputGivesNullAndAnError) {
  const char* cases[] = {"",      "{",       "[1,]", "{\"a\" 1}", "tru",   "01x",      "\"abc", "\"\\ud800\"",
                         "[1] 2", "\"\\q\"", "-",    "1.",        "{1:2}", "\"\x01\"", "1e999", "[-1e400]"};
  for (const char* text : cases) {
    std::string err;
    Json v = Json::parse(text, err);
    EXPECT_TRUE(v.is_null()) << text;
    EXPECT_FALSE(err.empty()) << text;
  }
}

TEST(Json, DeepNestingIsRefusedNotACrash) {
  std::string deep(100000, '[');
  std::string err;
  EXPECT_TRUE(Json::parse(deep, err).is_null());
  EXPECT_FALSE(err.empty());
  std::string ok = std::string(Json::kMaxParseDepth, '[') + std::string(Json::kMaxParseDepth, ']');
  Json::parse(ok, err);
  EXPECT_TRUE(err.empty());
}

}  // namespace
}  // namespace jsonette
