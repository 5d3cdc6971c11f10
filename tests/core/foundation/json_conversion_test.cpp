#include "core/foundation/json_conversion.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

namespace patch {
namespace {

struct JanssonDeleter {
  void operator()(json_t* value) const { json_decref(value); }
};
using JanssonPtr = std::unique_ptr<json_t, JanssonDeleter>;

JanssonPtr load(const std::string& text) {
  json_error_t error;
  JanssonPtr value(json_loadb(text.data(), text.size(), JSON_DECODE_ANY | JSON_ALLOW_NUL, &error));
  if (!value) ADD_FAILURE() << text << ": " << error.text;
  return value;
}

TEST(JsonConversion, JanssonValuesSurviveTheRoundTripWithTheirTypes) {
  const char* cases[] = {
      "null",
      "true",
      "false",
      "5",
      "-9223372036854775808",
      "9223372036854775807",
      "2.5",
      "-1e300",
      "\"\"",
      "\"caf\\u00e9 \\u2014 \\ud83d\\ude00 \\u65e5\\u672c\"",
      "\"nul\\u0000inside\"",
      "[]",
      "{}",
      "[1, [2, [3, {\"a\": [true, null]}]], \"x\"]",
      "{\"big\": 1234567890123456789, \"neg\": -42, \"real\": 0.1, \"nested\": {\"k\\u00e9y\": {\"d\": []}},"
      " \"\\u00fcber\": \"\\u00e4\"}",
  };
  for (const char* text : cases) {
    JanssonPtr original = load(text);
    ASSERT_TRUE(original);
    jsonette::Json converted = json_from_jansson(original.get());
    JanssonPtr back(jansson_from_json(converted));
    ASSERT_TRUE(back) << text;
    EXPECT_TRUE(json_equal(original.get(), back.get()))
        << text << " came back as " << json_dumps(back.get(), JSON_ENCODE_ANY);
    EXPECT_EQ(json_typeof(original.get()), json_typeof(back.get())) << text;
  }
}

TEST(JsonConversion, JanssonValuesBecomeTheMatchingJsonetteValues) {
  EXPECT_TRUE(json_from_jansson(nullptr).is_null());
  jsonette::Json big = json_from_jansson(load("9223372036854775807").get());
  EXPECT_TRUE(big.is_integer());
  EXPECT_EQ(big.int64_value(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(json_from_jansson(load("\"a\\u0000b\"").get()).string_value(), std::string("a\0b", 3));
  EXPECT_EQ(json_from_jansson(load("{\"x\": [1, 2.5, \"s\"]}").get()),
            jsonette::Json(jsonette::Json::object{{"x", jsonette::Json::array{1, 2.5, "s"}}}));
}

// jansson reads number text without fraction or exponent as an integer, whatever made the number.
TEST(JsonConversion, NumbersWrittenAsPlainDigitsBecomeJanssonIntegers) {
  struct Case {
    jsonette::Json number;
    json_type type;
    double value;
  };
  const Case cases[] = {
      {jsonette::Json(3.0), JSON_INTEGER, 3},
      {jsonette::Json(-4.0), JSON_INTEGER, -4},
      {jsonette::Json(1234567890123.0), JSON_INTEGER, 1234567890123},
      {jsonette::Json(2.5), JSON_REAL, 2.5},
      {jsonette::Json(1e20), JSON_REAL, 1e20},  // written with an exponent
      {jsonette::Json(0.1), JSON_REAL, 0.1},
      {jsonette::Json(7), JSON_INTEGER, 7},
  };
  for (const Case& c : cases) {
    JanssonPtr converted(jansson_from_json(c.number));
    ASSERT_TRUE(converted) << c.number.dump();
    EXPECT_EQ(json_typeof(converted.get()), c.type) << c.number.dump();
    EXPECT_EQ(json_number_value(converted.get()), c.value) << c.number.dump();
  }
  // A jansson real of whole value comes back from its round trip as an integer.
  JanssonPtr back(jansson_from_json(json_from_jansson(load("3.0").get())));
  EXPECT_TRUE(json_is_integer(back.get()));
}

TEST(JsonConversion, APartJanssonCannotHoldIsMendedWhereItStands) {
  // Bytes that are not UTF-8 are dropped from that string or key alone; the rest of the value stays.
  std::string error;
  jsonette::Json value(jsonette::Json::object{
      {"bad", std::string("a\xFF"
                          "b\xFE\xC0\x80"
                          "c")},
      {std::string("k\xFF"
                   "ey"),
       1},
      {"good", "caf\xC3\xA9"},
      {"truncated", std::string("x\xE2\x82")},
      {"surrogate", std::string("\xED\xA0\x80y")},
      {"inf", std::numeric_limits<double>::infinity()},
      {"n", 7},
      {std::string("n\0ul", 4), 2},
      {"huge", jsonette::Json::parse("123456789012345678901234", error)},
  });
  JanssonPtr converted(jansson_from_json(value));
  ASSERT_TRUE(json_is_object(converted.get()));
  EXPECT_STREQ(json_string_value(json_object_get(converted.get(), "bad")), "abc");
  EXPECT_EQ(json_integer_value(json_object_get(converted.get(), "key")), 1);
  EXPECT_STREQ(json_string_value(json_object_get(converted.get(), "good")), "caf\xC3\xA9");
  EXPECT_STREQ(json_string_value(json_object_get(converted.get(), "truncated")), "x");
  EXPECT_STREQ(json_string_value(json_object_get(converted.get(), "surrogate")), "y");
  EXPECT_TRUE(json_is_null(json_object_get(converted.get(), "inf")));
  EXPECT_EQ(json_integer_value(json_object_get(converted.get(), "n")), 7);
  EXPECT_EQ(json_integer_value(json_object_getn(converted.get(), "n\0ul", 4)), 2);
  EXPECT_DOUBLE_EQ(json_real_value(json_object_get(converted.get(), "huge")), 1.2345678901234568e23);

  JanssonPtr scalar(jansson_from_json(jsonette::Json("top")));
  EXPECT_STREQ(json_string_value(scalar.get()), "top");
}

}  // namespace
}  // namespace patch
