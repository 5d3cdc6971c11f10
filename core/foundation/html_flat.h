// A linear look at HTML without building its tree, for input that nests too deeply to parse.
//
// gumbo spends time in proportion to the depth of open elements on each tag it reads, so a body
// of a few hundred thousand nested elements (a long chain of quoted replies, or hostile mail)
// takes minutes. These two passes read each byte a bounded number of times: one measures how
// deep the elements nest, the other drops the markup and leaves text that parses flat, with the
// same character references and with a space where a block element, comment or line break ended.
//
// Tags are read as the HTML tokenizer reads them: "<" followed by a letter opens a start tag, by
// "/" and a letter an end tag, by "!" or "?" a comment or declaration; any other "<" is text.
// The contents of script, style and template are skipped; those of title and textarea are text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace libkestrun::html_flat {

// True when more than `limit` elements would be open at once. End tags close the nearest open
// element of their name among the last few opened, unless an element the parser would not close
// across lies between (a block for a formatting end tag, a table for a block's); void elements,
// self-closing tags inside svg or math and a repeated list item, paragraph, cell or option (which
// closes its predecessor) open nothing. A formatting element (b, i, font, a...) closed by another
// element's end tag stays open in the count until an end tag of its name, since the parser opens it
// again inside what follows. Where unsure it counts an element as open.
bool nests_deeper_than(std::string_view html, size_t limit);

// The text of the document with every tag removed: a space where an element other than a, small,
// sub, sup, i, b and span ended (its end tag, a void or self-closing tag, the start of a paragraph,
// list item, cell or option that ends the previous one) and for each comment or declaration,
// "&lt;" for each "<" of the text, and one space for a run of whitespace between two tags. Parsing the result
// gives one text whose characters are those of the document.
std::string strip_tags(std::string_view html);

}  // namespace libkestrun::html_flat
