#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "harnvik/strings.h"

namespace harnvik::verdane::lang {
namespace {

TEST(StrPrintf, PlainConversionsMatchPrintf) {
  EXPECT_EQ(str_printf("no conversions, 100%% sure"), "no conversions, 100% sure");
  EXPECT_EQ(str_printf("%s and %s", "one", std::string("two")), "one and two");
  EXPECT_EQ(str_printf("[%5s|%-5s|%.2s]", "ab", "cd", "efgh"), "[   ab|cd   |ef]");
  EXPECT_EQ(str_printf("%d %i %u", -42, 7, 3u), "-42 7 3");
  EXPECT_EQ(str_printf("%05d|%-4d|%+d|%x|%X|%o|%#x", 42, 7, 5, 255, 255, 8, 16),
            "00042|7   |+5|ff|FF|10|0x10");
  EXPECT_EQ(str_printf("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(str_printf("%.3f %e %g", 3.14159, 1500.0, 0.5f), "3.142 1.500000e+03 0.5");
  EXPECT_EQ(str_printf("%*d|%-*d|%.*s", 4, 1, 3, 2, 2, "xyz"), "   1|2  |xy");
  EXPECT_EQ(str_printf("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(str_printf(nullptr, 1), "");
}

// Length modifiers say nothing about the argument: each integer is shown at its own width, so
// a 64-bit count given to %d or an int given to %lu is printed whole and correctly.
TEST(StrPrintf, IntegersPrintAtTheirOwnWidth) {
  uint64_t big = 5000000000ULL;
  EXPECT_EQ(str_printf("%d items", big), "5000000000 items");
  EXPECT_EQ(str_printf("%lu items", 3), "3 items");
  EXPECT_EQ(str_printf("%hhd %lld %zu", INT64_MIN, short{-2}, size_t{9}), "-9223372036854775808 -2 9");
  EXPECT_EQ(str_printf("%d", UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(str_printf("%x %x %lx", -1, int8_t{-1}, int64_t{-1}), "ffffffff ff ffffffffffffffff");
}

TEST(StrPrintf, PositionalConversionsPickTheirArguments) {
  const char* reply = "%3$s schrieb am %1$s um %2$s:";
  EXPECT_EQ(str_printf(reply, "5. März 2026", "15:07", "Ann <ann@example.com>"),
            "Ann <ann@example.com> schrieb am 5. März 2026 um 15:07:");
  EXPECT_EQ(str_printf("%2$s, %1$s!", "world", "Hello"), "Hello, world!");
  EXPECT_EQ(str_printf("%1$lu from %2$s to %3$s", uint64_t{12}, "Archive", "Inbox"),
            "12 from Archive to Inbox");
  EXPECT_EQ(str_printf("%1$s %1$s", "twice"), "twice twice");
  EXPECT_EQ(str_printf("%2$*1$d|%3$.*1$s", 3, 7, "abcdef"), "  7|abc");
}

// Translated formats arrive at run time: a conversion whose argument is missing or of the wrong
// kind stays as written instead of reading memory that is not there.
TEST(StrPrintf, MissingOrMistypedArgumentsStayAsWritten) {
  struct Case {
    std::string expected, actual;
  } cases[] = {
      {"%s and %s", str_printf("%s and %s")},
      {"one and %s", str_printf("%s and %s", "one")},
      {"%3$s, a, b", str_printf("%3$s, %1$s, %2$s", "a", "b")},
      {"%0$s", str_printf("%0$s", "a")},
      {"%s", str_printf("%s", 42)},
      {"%d", str_printf("%d", "text")},
      {"%f", str_printf("%f", 3)},
      {"%x", str_printf("%x", 2.5)},
      {"%*d", str_printf("%*d", "w", 5)},
      {"%n", str_printf("%n", 1)},
      {"%q", str_printf("%q", 1)},
      {"50%", str_printf("50%")},
      {"%.", str_printf("%.", 1)},
      {"%1$", str_printf("%1$", 1)},
      {"a %l", str_printf("a %l", 1)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

}  // namespace
}  // namespace harnvik::verdane::lang
