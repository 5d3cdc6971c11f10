#include "harnvik/prefix_match.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PrefixMatchTest, ComparesTheLeadingBytesExactly) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    std::string prefix;
    bool match;
  } cases[] = {
      {"Re: lunch", "Re:", true}, {"RE: lunch", "Re:", false},  // no case folding
      {"Re", "Re:", false},                                     // the prefix is longer than the text
      {"Re:", "Re:", true},       {"", "", true},
      {"anything", "", true},     {"", "x", false},
      {"a\0b"s, "a\0"s, true},  // embedded NUL bytes are bytes like any other
      {"a\0b"s, "a\0c"s, false},  {"\xc3\xa9t\xc3\xa9", "\xc3\xa9", true},
      {" Re:", "Re:", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(harnvik::verdane::prefix_match(c.text, c.prefix), c.match) << c.text << " / " << c.prefix;
  }
}

}  // namespace
