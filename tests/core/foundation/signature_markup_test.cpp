#include "core/foundation/signature_markup.h"

#include <gtest/gtest.h>

#include <string>

namespace libkestrun::signature_markup {
namespace {

TEST(SignatureMarkup, PlainTextOfHtml) {
  struct Case {
    std::string html, text;
  };
  const Case cases[] = {
      {"", ""},
      {"a   b", "a b"},
      {"line\nfeed", "line\nfeed"},
      {"see<b>this</b>", "seethis"},
      {"a<div>b</div>", "ab"},
      {"<div>a</div>b", "a b"},
      {"<p>a</p><p>b</p>", "a b"},
      {"x<strong>y</strong>z", "xy z"},
      {"<style>p{}</style>t<script>s()</script>", "t"},
      {"a&amp;b", "a&b"},
      {"<h1>Title</h1><p>One<br>two</p><ul><li>A</li><li>B</li></ul>", "Title One two A B"},
      {" \t<a href=\"x\">link</a><img src=\"y\" alt=\"z\">\n", "link"},
  };
  for (const auto& c : cases) EXPECT_EQ(plain_text(c.html), c.text) << c.html;
}

}  // namespace
}  // namespace libkestrun::signature_markup
