// Any bytes as an HTML body: html_to_text must not crash, leak or read out of bounds, and its
// result is already trimmed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/foundation/ks_string.h"
#include "core/foundation/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string html(reinterpret_cast<const char*>(data), size);
  std::string text = libkestrun::Utility::html_to_text(html);
  if (!text.empty()) {
    char first = text.front();
    char last = text.back();
    if (first == ' ' || first == '\n' || first == '\t' || last == ' ' || last == '\n' || last == '\t') {
      std::abort();
    }
  }
  // Drafts are cleaned of inline tag content before their text is taken.
  std::string emptied = libkestrun::KSString::empty_kestrun_tags(html);
  if (emptied.size() > html.size()) std::abort();
  return 0;
}
