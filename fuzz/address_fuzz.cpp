// Any bytes as a typed address: the check must not crash and must agree with itself around the
// edits the core makes before asking (lower-casing) and must reject surrounding text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/foundation/ks_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using libkestrun::KSString;
  std::string text(reinterpret_cast<const char*>(data), size);
  bool valid = KSString::is_valid_email(text);
  if (KSString::is_valid_email(KSString::to_lower_utf8(text)) != valid) std::abort();
  if (valid && (KSString::is_valid_email(" " + text) || KSString::is_valid_email(text + "\n"))) std::abort();
  KSString::short_name(text);
  KSString::escape_xml(text);
  return 0;
}
