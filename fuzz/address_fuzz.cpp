// Any bytes as a typed address: the check must not crash, must give the same answer for the
// lower-cased text (the contact model lowers addresses before asking), and must never accept an
// address with text around it. Short names and escaping run over the same bytes.
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
