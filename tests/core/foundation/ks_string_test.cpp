#include "core/foundation/ks_string.h"

#include <gtest/gtest.h>

#include <string>

namespace libkestrun {
namespace {

using namespace std::string_literals;

TEST(KSString, IsValidEmailJudgesTheWholeTextInAnyCase) {
  struct Case {
    std::string text;
    bool valid;
  } cases[] = {
      {"john@example.com", true},
      {"John@Example.COM", true},
      {"first.last+tag@mail.example.co.uk", true},
      {"o'neil_{x}~@a-b.example", true},
      {"x John@Example.COM y", false},
      {"john@example.com ", false},
      {"john@example.com\n", false},
      {"john@localhost", false},
      {"john@@example.com", false},
      {"john..doe@example.com", false},
      {".john@example.com", false},
      {"john@-example.com", false},
      {"john@example-.com", false},
      {"jo\\hn@example.com", false},
      {"john@example.com\0evil"s, false},
      {"@example.com", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(KSString::is_valid_email(c.text), c.valid) << c.text;
}

TEST(KSString, ReplaceAllScansLeftToRightWithoutRescanningReplacements) {
  struct Case {
    std::string text, needle, replacement, expected;
  } cases[] = {
      {"a-b-c", "-", "+", "a+b+c"}, {"aaa", "aa", "b", "ba"},
      {"ab", "a", "aa", "aab"},     {"{{name}} and {{name}}", "{{name}}", "Ann", "Ann and Ann"},
      {"abc", "x", "y", "abc"},     {"", "a", "b", ""},
      {"abc", "", "y", "abc"},
  };
  for (auto c : cases) {
    KSString::replace_all(c.text, c.needle, c.replacement);
    EXPECT_EQ(c.text, c.expected) << c.needle;
  }
}

TEST(KSString, RegexReplaceAllReplacesEveryMatchAndAlwaysEnds) {
  struct Case {
    const char* pattern;
    std::string text, replacement, expected;
  } cases[] = {
      {"  +", "My   list  name ", " ", "My list name "},
      {"  +", "a\0   b"s, " ", "a\0 b"s},
      {"  +", "", " ", ""},
      {"^x", "xxy", "-", "--y"},  // each search starts as at the beginning of a text
      {"x*", "abc", "-", "-a-b-c-"},
      {"b*", "abba", "-", "-a--a-"},
  };
  for (const auto& c : cases) {
    regex_t pattern;
    ASSERT_EQ(regcomp(&pattern, c.pattern, REG_EXTENDED), 0);
    EXPECT_EQ(KSString::regex_replace_all(c.text, pattern, c.replacement), c.expected) << c.pattern;
    regfree(&pattern);
  }
}

TEST(KSString, EscapeXmlEscapesAmpersandFirst) {
  EXPECT_EQ(KSString::escape_xml("<a href=\"x\">Tom & Jerry's &amp;</a>"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&apos;s &amp;amp;&lt;/a&gt;");
  EXPECT_EQ(KSString::escape_xml("plain"), "plain");
}

TEST(KSString, EmptyKestrunTagsDropsContentAndKeepsTags) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"a<kestrun-img src=\"cid:1\">data</kestrun-img>b", "a<kestrun-img src=\"cid:1\"></kestrun-img>b"},
      {"<kestrun-attach id=\"7\" name=\"r.pdf\">r.pdf 2 MB</kestrun-attach>",
       "<kestrun-attach id=\"7\" name=\"r.pdf\"></kestrun-attach>"},
      {"<p>no inline tags</p>", "<p>no inline tags</p>"},
      {"<kestrun-img>1</kestrun-img><kestrun-img>2</kestrun-img>",
       "<kestrun-img></kestrun-img><kestrun-img></kestrun-img>"},
      // The first closing tag of the same name ends the element, other inline tags included.
      {"<kestrun-attach>x<kestrun-img>y</kestrun-img>z</kestrun-attach>!",
       "<kestrun-attach></kestrun-attach>!"},
      // A backslash inside the tag keeps it from matching.
      {"<kestrun-img a=\"\\\">x</kestrun-img>", "<kestrun-img a=\"\\\">x</kestrun-img>"},
      // Unclosed: nothing is dropped, and later elements are still emptied.
      {"<kestrun-img>tail", "<kestrun-img>tail"},
      {"<kestrun-img src=\"a", "<kestrun-img src=\"a"},
      {"<kestrun-img>x<kestrun-attach>y</kestrun-attach>", "<kestrun-img>x<kestrun-attach></kestrun-attach>"},
      {"<kestrun-img>x</kestrun-attach>", "<kestrun-img>x</kestrun-attach>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(KSString::empty_kestrun_tags(c.text), c.expected) << c.text;
}

TEST(KSString, ShortNameGivesTheGivenName) {
  struct Case {
    std::string full, expected;
  } cases[] = {
      {"Smith, Jane", "Jane"},
      {"Dr. Jane Smith", "Jane"},
      {"Mrs Ann Lee", "Ann"},
      {"the Beatles Fan Club", "Beatles"},
      {"Dr ", "Dr"},
      {"Smith, Jane, Jr", "Smith,"},
      {"Smith, ", "Smith,"},
      {"Madonna", "Madonna"},
      {"Jane Q Public", "Jane"},
      {"Doctor Who", "Doctor"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(KSString::short_name(c.full), c.expected) << c.full;
}

TEST(KSString, LoweringTouchesAsciiLettersOnly) {
  EXPECT_EQ(KSString::to_lower_utf8("\xC3\x89TIENNE \xC3\x80"
                                    "B"),
            "\xC3\x89tienne \xC3\x80"
            "b");
  EXPECT_EQ(KSString::to_lower_utf8("\xFF"
                                    "A\xE2\x82"),
            "\xFF"
            "a\xE2\x82");
  std::string text = "MiXeD \xC3\x89\xC3\x80 TEXT";
  KSString::to_lower(text);
  EXPECT_EQ(text, "mixed \xC3\x89\xC3\x80 text");
}

TEST(KSString, SuffixTests) {
  EXPECT_TRUE(KSString::ends_with("photo.jpg", ".jpg"));
  EXPECT_TRUE(KSString::ends_with("x", ""));
  EXPECT_FALSE(KSString::ends_with("pg", ".jpg"));
  EXPECT_FALSE(KSString::ends_with("photo.JPG", ".jpg"));
  EXPECT_TRUE(KSString::ends_with_ignore_case("PHOTO.JPG", ".jpg"));
  EXPECT_TRUE(KSString::ends_with_ignore_case("photo.jpg", ".JPG"));
  EXPECT_FALSE(KSString::ends_with_ignore_case("photo.jpg.txt", ".jpg"));
}

TEST(KSString, StrippingKeepsTheOrderOfOtherBytes) {
  std::string quoted = "\"a\tb\\c\r\nd-e_f\"";
  KSString::strip_quotes_and_breaks(quoted);
  EXPECT_EQ(quoted, "abcd-e_f");
  std::string separated = "a-b_c\td\ne\rf\"g\\";
  KSString::strip_separators(separated);
  EXPECT_EQ(separated, "abcdef\"g\\");
}

}  // namespace
}  // namespace libkestrun
