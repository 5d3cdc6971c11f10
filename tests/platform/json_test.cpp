#include "jsonette/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/peak_resident.h"

namespace jsonette {
namespace {

TEST(Json, NumbersCompareByValueAcrossIntegerAndDouble) {
  EXPECT_EQ(Json(3), Json(3.0));
  EXPECT_NE(Json(3), Json(3.5));
  EXPECT_NE(Json(int64_t{9007199254740993}), Json(9007199254740992.0));  // no rounding
  EXPECT_EQ(Json(int64_t{-2}), Json(-2.0));
  EXPECT_LT(Json(2), Json(2.5));
  // Not-a-number equals only itself and sorts above every other number, as against integers.
  const Json nan(std::numeric_limits<double>::quiet_NaN());
  EXPECT_NE(nan, Json(2.5));
  EXPECT_EQ(nan, nan);
  EXPECT_LT(Json(2.5), nan);
  EXPECT_LT(Json(3), nan);
  EXPECT_FALSE(nan < Json(2.5));
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
      "-0.0",                   // read back as an integer 0, "-0" would lose the sign
      "9223372036854775808.0",  // 2^63 as a double: digits alone make an integer past 64 bits
      "-18446744073709551616.0",
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

TEST(Json, CopiesShareOneValueAcrossThreads) {
  const Json original(Json::object{{"text", std::string(100, 'x')}, {"list", Json::array{1, "two", 3.5}}});
  Json copy = original;
  EXPECT_EQ(&copy.string_value(), &original.string_value());
  EXPECT_EQ(&copy["text"].string_value(), &original["text"].string_value());
  // Copies taken and dropped on several threads at once leave the shared value intact.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&original] {
      for (int i = 0; i < 20000; ++i) {
        Json a = original["list"];
        Json b = a;
        b = original["text"];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  copy = Json();
  EXPECT_EQ(original["text"].string_value(), std::string(100, 'x'));
  EXPECT_EQ(original["list"][1].string_value(), "two");
  EXPECT_EQ(original.dump(), "{\"list\":[1,\"two\",3.5],\"text\":\"" + std::string(100, 'x') + "\"}");
}

TEST(Json, EmptyAndScalarValuesBehaveAsBefore) {
  EXPECT_EQ(sizeof(Json), 16u);  // a scalar is the value itself, with no block on the heap
  EXPECT_TRUE(Json("").is_string());
  EXPECT_EQ(Json(""), Json(std::string()));
  EXPECT_NE(Json(""), Json());
  EXPECT_TRUE(Json(Json::array{}).is_array());
  EXPECT_NE(Json(Json::array{}), Json(Json::object{}));
  EXPECT_LT(Json(""), Json("a"));
  EXPECT_LT(Json(Json::array{}), Json(Json::array{0}));
  EXPECT_EQ(Json(Json::array{}).dump() + Json(Json::object{}).dump() + Json("").dump(), "[]{}\"\"");
  Json moved = Json("kept");
  Json target = std::move(moved);
  EXPECT_TRUE(moved.is_null());
  target = target;
  EXPECT_EQ(target.string_value(), "kept");
}

TEST(Json, AssigningAPartOfAValueToItKeepsThePart) {
  // The value holds the only reference to the container its part lives in: `value = value[0]`
  // must take the part before it lets the container go.
  const std::string text(40, 'a');
  Json value(Json::array{Json::object{{"inner", Json::array{text}}}});
  value = value[0];
  EXPECT_EQ(value.dump(), "{\"inner\":[\"" + text + "\"]}");
  value = value["inner"];
  EXPECT_EQ(value.dump(), "[\"" + text + "\"]");
  value = value[0];
  EXPECT_EQ(value.string_value(), text);
}

// "[0,0,...]": the smallest text per value, and the shape that once took 90 bytes of memory per
// byte of text.
std::string zeros(size_t size) {
  std::string text = "[0";
  text.reserve(size);
  while (text.size() + 3 <= size) text += ",0";
  return text + "]";
}

TEST(Json, ParsedFormOfALargeArrayStaysWithinASmallMultipleOfItsText) {
  if (!kestrun_test::kResidentSizeIsMeaningful) GTEST_SKIP() << "resident size is not meaningful here";
  const std::string text = zeros(16u * 1024 * 1024);
  const size_t before = kestrun_test::peak_resident_bytes();
  std::string err;
  Json value = Json::parse(text, err);
  ASSERT_TRUE(err.empty()) << err;
  EXPECT_EQ(value.array_items().size(), text.size() / 2);
  EXPECT_LT(kestrun_test::peak_resident_bytes() - before, 20 * text.size());
}

TEST(Json, ParseRefusesTextWhoseValuesWouldOutgrowItsBudget) {
  // Each case repeats one element up to about 1 MiB of text.
  struct Case {
    const char* element;
    bool accepted;
  } cases[] = {
      {"0", true},          {"{\"subject\":\"weekly report\",\"date\":1700000000,\"read\":true}", true},
      {"[]", true},         {"{\"\":0}", false},  // a one-member object per 7 bytes
      {"{\"\":{}}", false},
  };
  for (const Case& c : cases) {
    std::string text = "[";
    while (text.size() < (1u << 20)) text += std::string(c.element) + ",";
    text.back() = ']';
    std::string err;
    Json value = Json::parse(text, err);
    EXPECT_EQ(err.empty(), c.accepted) << c.element << ": " << err;
    EXPECT_EQ(value.is_array(), c.accepted) << c.element;
    if (!c.accepted) {
      EXPECT_NE(err.find("too large"), std::string::npos) << err;
    }
  }
  // A small document is never refused, whatever its shape.
  std::string err;
  Json::parse("[{\"\":0},{\"\":0},{\"\":{}}]", err);
  EXPECT_TRUE(err.empty()) << err;
}

TEST(Json, ErrorTextsShowUnprintableInputBytesEscaped) {
  const char* cases[][2] = {
      {"\x1b[31m", "'\\x1b'"}, {"\x7f", "'\\x7f'"}, {"\xff\xfe", "'\\xff'"}, {"@", "'@'"}};
  for (const auto& c : cases) {
    std::string err;
    Json::parse(c[0], err);
    EXPECT_NE(err.find(c[1]), std::string::npos) << err;
    for (unsigned char byte : err) EXPECT_TRUE(byte >= 0x20 && byte < 0x7f) << err;
  }
}

}  // namespace
}  // namespace jsonette
