#include <gtest/gtest.h>

#include <string>

#include "core/foundation/utility.h"

namespace libkestrun {
namespace {

using namespace std::string_literals;

TEST(HtmlToText, ProducesThePlainTextOfTheDocument) {
  struct Case {
    std::string html, text;
  } cases[] = {
      {"", ""},
      {"a   b", "a b"},
      {"see<b>this</b>", "seethis"},
      {"a<b>b</b>c", "abc"},
      {"a<div>b</div>", "ab"},
      {"<div>a</div>b", "a b"},
      {"<p>a</p><p>b</p>", "a b"},
      {"x<strong>y</strong>z", "xy z"},
      {"<h1>Title</h1><p>One<br>two</p><ul><li>A</li><li>B</li></ul>", "Title One two A B"},
      {"<style>p{}</style>t", "t"},
      {"<script>var x = '<p>';</script>t<script>y()</script>", "t"},
      {"a&amp;b &lt;c&gt; &eacute;&#x263A;", "a&b <c> \xC3\xA9\xE2\x98\xBA"},
      {"line one\nline two", "line one\nline two"},
      {"a&nbsp; &nbsp;b",
       "a\xC2\xA0 \xC2\xA0"
       "b"},
      {"<a href=\"https://example.com\">link</a>text", "linktext"},
      {"<img src=\"x.png\" alt=\"picture\">caption", "caption"},
      {"<html><head><title>Subject</title></head><body>Body</body></html>", "Subject Body"},
      {"a<!-- comment -->b", "a b"},
      {"<div>a </div>b", "a b"},
      {"<div>a  </div>  b", "a  b"},  // runs collapse within one text only
      {"<span>a</span><div>b</div><i>c</i>", "ab c"},
      {"<table><tr><td>1</td><td>2</td></tr></table>", "1 2"},
      {"  \n\t<p> padded </p>\t\n ", "padded"},
      {"<p", ""},
      {"\x00\xFF<b>\xC3"s, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utility::html_to_text(c.html), c.text) << c.html;
}

TEST(HtmlToText, DeepNestingNeedsNoCallStack) {
  // Far deeper than a walk that recursed per level could go on a thread's stack.
  const int kDepth = 100000;
  std::string html;
  for (int i = 0; i < kDepth; ++i) html += "<span>";
  html += "deep";
  for (int i = 0; i < kDepth; ++i) html += "</span>";
  html += " after";
  EXPECT_EQ(Utility::html_to_text(html), "deep after");
}

}  // namespace
}  // namespace libkestrun
