// html_to_text against gumbo's bare parse of the same input: over a 1 MB message body the walk and
// trimming should add little to the parse itself; over a deeply quoted thread html_to_text should
// beat the bare parse, because it does not record parse errors (each keeps a copy of the stack of
// open elements). Past 512 open elements html_to_text converts the stripped text instead of
// parsing, so the deep cases compare that linear path with gumbo's parse, whose time grows with the
// square of the depth (the bare parse is measured at 20,000 levels only: 200,000 take minutes).
#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <string>

#include "core/foundation/utility.h"

namespace {

// A newsletter-like body: a style sheet, layout tables, paragraphs with inline markup, links,
// images, entities and lists, followed by a quoted reply chain a hundred levels deep.
std::string message_body() {
  std::string html =
      "<html><head><meta charset=\"utf-8\"><title>Weekly digest</title><style>"
      "body{font-family:sans-serif}td{padding:4px}.muted{color:#888}</style></head><body>";
  for (int section = 0; html.size() < 900 * 1024; ++section) {
    std::string n = std::to_string(section);
    html += "<table width=\"100%\" cellpadding=\"0\"><tr><td class=\"muted\">Section " + n +
            "</td><td align=\"right\"><a href=\"https://example.com/s/" + n +
            "\">View online</a></td></tr><tr><td colspan=\"2\"><h2>Story number " + n +
            "</h2><p>The <b>quick</b> brown fox &amp; the <i>lazy</i> dog met at caf&eacute; " + n +
            ",&nbsp;where    the <span style=\"color:red\">news</span> was read aloud.<br>"
            "Second line with a <a href=\"https://example.com/a/" +
            n + "\">link</a> and an image <img src=\"cid:img" + n +
            "\" alt=\"x\"> inline.</p><ul><li>First point</li><li>Second point with <sub>sub</sub>"
            " and <sup>sup</sup></li></ul><div><small>Footnote &copy; 2026</small></div>"
            "<script>track(" +
            n + ");</script></td></tr></table>\n";
  }
  std::string quoted;
  for (int level = 0; level < 100; ++level) {
    quoted += "<blockquote><p>On Monday, person " + std::to_string(level) + " wrote:</p>";
  }
  html += quoted + std::string(100, ' ');
  for (int level = 0; html.size() < 1024 * 1024; ++level) {
    html += "<p>Quoted line " + std::to_string(level) + " of the oldest message in the thread.</p>";
  }
  for (int level = 0; level < 100; ++level) html += "</blockquote>";
  html += "</body></html>";
  return html;
}

// A reply chain quoted five thousand levels deep, where every level leaves its elements open.
std::string deep_thread() {
  std::string html;
  for (int level = 0; level < 5000; ++level) html += "<blockquote><p>Level " + std::to_string(level);
  return html;
}

// A text inside `depth` nested div elements.
std::string nested_divs(int depth) {
  std::string html;
  for (int level = 0; level < depth; ++level) html += "<div>";
  html += "the text";
  for (int level = 0; level < depth; ++level) html += "</div>";
  return html;
}

const std::string& divs_20k() {
  static const std::string html = nested_divs(20000);
  return html;
}

const std::string& divs_200k() {
  static const std::string html = nested_divs(200000);
  return html;
}

const std::string& body() {
  static const std::string html = message_body();
  return html;
}

const std::string& deep() {
  static const std::string html = deep_thread();
  return html;
}

void BM_HtmlToText(benchmark::State& state, const std::string& (*input)()) {
  for (auto _ : state) benchmark::DoNotOptimize(libkestrun::Utility::html_to_text(input()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input().size()));
}

void BM_BareGumboParse(benchmark::State& state, const std::string& (*input)()) {
  for (auto _ : state) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, input().data(), input().size());
    benchmark::DoNotOptimize(output->root);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input().size()));
}

BENCHMARK_CAPTURE(BM_HtmlToText, message_1mb, body)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareGumboParse, message_1mb, body)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToText, deep_thread, deep)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareGumboParse, deep_thread, deep)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToText, divs_20k, divs_20k)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareGumboParse, divs_20k, divs_20k)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HtmlToText, divs_200k, divs_200k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
