// Text forms of e-mail signatures. A signature may be markup or plain text; it counts as plain
// text exactly when its plain-text form is itself.
#pragma once

#include <string>

namespace libkestrun::signature_markup {

// The plain text of an HTML fragment: the text of its nodes without style and script, blocks
// separated by one space, runs of spaces collapsed, trimmed of spaces, line feeds and tabs.
std::string plain_text(const std::string& html);

// Plain text as HTML: escaped, every "kestrun" and "Kestrun" replaced by `link` (once; the link's
// own text is not linked again), every line feed replaced by <br>.
std::string plain_to_html(const std::string& text, const std::string& link);

}  // namespace libkestrun::signature_markup
