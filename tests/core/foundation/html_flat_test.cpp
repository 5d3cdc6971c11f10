#include "core/foundation/html_flat.h"

#include <gtest/gtest.h>

#include <string>

namespace libkestrun::html_flat {
namespace {

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(HtmlFlat, DepthCountsOnlyElementsThatStayOpen) {
  struct Case {
    const char* name;
    std::string html;
    bool deeper;
  } cases[] = {
      {"at the limit", repeat("<div>", 512), false},
      {"one past it", repeat("<DIV class='a>b'>", 513), true},
      {"closed as it goes", repeat("<div><p>x</p></div>", 10000), false},
      {"end tags in any case", repeat("<div>", 300) + repeat("</Div>", 300) + repeat("<div>", 300), false},
      {"list items without end tags", "<ul>" + repeat("<li>item", 1000) + "</ul>", false},
      {"void tags", repeat("<br><img src=x><hr/>", 1000), false},
      {"self-closing svg parts", "<svg>" + repeat("<path d='M0'/>", 1000) + "</svg>", false},
      // The parser ignores "/>" on an element that is not void: each of these opens a div.
      {"self-closing divs", repeat("<div/>", 513), true},
      // An end tag of a formatting element across a block moves the formatting element inside
      // the block and keeps the block open.
      {"formatting end tag across a block", repeat("<b><div></b>", 513), true},
      {"phrasing end tag across a block", repeat("<span><div></span>", 513), true},
      {"block end tag across a table", repeat("<div><table></div>", 513), true},
      // A block's end tag closes the formatting element inside it, which the parser opens again
      // in the next block, one level deeper each time; its own end tag drops it.
      {"formatting closed by a block", repeat("<div><b id=x></div>", 513), true},
      {"formatting closed later by its own end tag", repeat("<div><b id=x></div></b>", 1000), false},
      {"markup inside a script", "<script>" + repeat("<div>", 1000) + "</script>", false},
      {"markup inside a comment", "<!--" + repeat("<div>", 1000) + "-->", false},
      {"a stray < is text", repeat("a < b <", 1000), false},
      {"misnested inline markup", repeat("<b><i>x</b></i>", 1000), false},
  };
  for (const auto& c : cases) EXPECT_EQ(nests_deeper_than(c.html, 512), c.deeper) << c.name;
}

TEST(HtmlFlat, StripTagsLeavesTextThatParsesFlat) {
  struct Case {
    std::string html, flat;
  } cases[] = {
      {"a<b>b</b>c", "abc"},
      {"x<strong>y</strong>z", "xy z"},
      {"<p>a<p>b", " a b"},
      {"a<br>b<!-- c -->d", "a b d"},
      {"<div>\n  <div>a &amp; b</div>\n</div>", " a &amp; b   "},
      {"1 < 2<script>x<y</script>", "1 &lt; 2 "},
      {"<title>a<b</title>", "a&lt;b "},
      {"<a href=\"x>y\">link</a>", "link"},
      {"text<p class='open", "text "},
  };
  for (const auto& c : cases) EXPECT_EQ(strip_tags(c.html), c.flat) << c.html;
}

}  // namespace
}  // namespace libkestrun::html_flat
