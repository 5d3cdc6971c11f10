#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "core/foundation/utility.h"

namespace libkestrun {
namespace {

using namespace std::string_literals;

struct Case {
  std::string html, text;
  // Whether the same text comes out when the document is nested past the parse's depth guard.
  bool same_when_flat = true;
};

const std::vector<Case>& documents() {
  static const std::vector<Case> cases = {
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
      {"<div>a  </div>  b", "a  b", false},  // runs collapse within one text only (not when flat)
      {"<span>a</span><div>b</div><i>c</i>", "ab c"},
      {"<table><tr><td>1</td><td>2</td></tr></table>", "1 2"},
      {"  \n\t<p> padded </p>\t\n ", "padded"},
      {"<p", ""},
      {"\x00\xFF<b>\xC3"s, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  return cases;
}

TEST(HtmlToText, ProducesThePlainTextOfTheDocument) {
  for (const auto& c : documents()) EXPECT_EQ(Utility::html_to_text(c.html), c.text) << c.html;
}

// Runs `work` on a thread whose stack is `stack_bytes` long, as on platforms whose secondary
// threads get small stacks.
void run_on_small_stack(size_t stack_bytes, std::function<void()> work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stack_bytes), 0);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

std::string nested(const std::string& tag, int depth, const std::string& inner) {
  std::string html;
  for (int i = 0; i < depth; ++i) html += "<" + tag + ">";
  html += inner;
  for (int i = 0; i < depth; ++i) html += "</" + tag + ">";
  return html;
}

TEST(HtmlToText, DeepNestingNeedsNoCallStack) {
  // Far deeper than a walk, or a release of the parsed tree, that recursed per level could go on
  // a 512 KiB stack, also where the walk does not look (a template's content, markup inside a
  // foreign script).
  const int kDepth = 30000;
  struct Case {
    std::string html, text;
  } cases[] = {
      {nested("span", kDepth, "deep") + " after", "deep after"},
      {"before<template>" + nested("span", kDepth, "hidden") + "</template>", "before"},
      {"drawn<svg><script>" + nested("g", kDepth, "hidden") + "</script></svg>", "drawn"},
  };
  for (const auto& c : cases) {
    std::string text;
    run_on_small_stack(512 * 1024, [&] { text = Utility::html_to_text(c.html); });
    EXPECT_EQ(text, c.text);
  }
}

TEST(HtmlToText, ReopenedFormattingElementsCountTowardTheDepth) {
  // Each block ends with a formatting element open; the parser opens a copy of every one of them
  // in the next block, so each block nests one level deeper than the last.
  std::string html, expected;
  for (int i = 0; i < 3000; ++i) {
    html += "<div><b id=" + std::to_string(i) + ">w</div>";
    expected += i == 0 ? "w" : " w";
  }
  std::string text;
  run_on_small_stack(512 * 1024, [&] { text = Utility::html_to_text(html); });
  EXPECT_EQ(text, expected);
}

TEST(HtmlToText, TooDeepInputConvertsFromItsTextAlone) {
  // Parsing this would take minutes; its text is what the document holds.
  std::string text;
  run_on_small_stack(512 * 1024, [&] { text = Utility::html_to_text(nested("div", 200000, "the text")); });
  EXPECT_EQ(text, "the text");

  // Below the guard's depth every document converts through the parse, and past it the same
  // documents give the same text: references decoded, script and style dropped, a space after
  // block elements and comments only.
  for (const auto& c : documents()) {
    if (c.same_when_flat) {
      EXPECT_EQ(Utility::html_to_text(nested("div", 600, c.html)), c.text) << c.html;
    }
  }
  const Case deep_cases[] = {
      {nested("blockquote", 1000, "<p>On Monday &amp; Tuesday, Ann wrote:</p><p>a < b</p>"),
       "On Monday & Tuesday, Ann wrote: a < b"},
      {nested("span", 1000, "x") + "<script>if (a <b) {}</script><style>p{}</style>y", "x y"},
      {nested("div", 1000, "<title>T &lt;b&gt;</title><textarea><b>raw</b></textarea>"), "T <b> <b>raw</b>"},
      {nested("div", 1000, "<a href=\"x>y\">link</a><img src='>'>after"), "link after"},
      {nested("div", 1000, "shown") + "<p class='never closed", "shown"},
  };
  for (const auto& c : deep_cases) EXPECT_EQ(Utility::html_to_text(c.html), c.text) << c.html.substr(0, 80);
}

}  // namespace
}  // namespace libkestrun
