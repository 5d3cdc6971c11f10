#include <gumbo.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/foundation/html_flat.h"
#include "core/foundation/utility.h"

namespace libkestrun {

namespace {

// Elements after which the next text follows without a separating space.
bool is_inline_tag(GumboTag tag) {
  switch (tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_I:
    case GUMBO_TAG_B:
    case GUMBO_TAG_SPAN:
      return true;
    default:
      return false;
  }
}

// Appends a text node: runs of spaces collapsed, and a space in front when the text before it
// needs a separator (merging with the text's own leading spaces).
void append_text(std::string& out, std::string_view text, bool joined) {
  auto skip_spaces = [&text] { text.remove_prefix(std::min(text.find_first_not_of(' '), text.size())); };
  if (!joined) {
    out += ' ';
    skip_spaces();
  }
  while (!text.empty()) {
    size_t pair = text.find("  ");
    if (pair == std::string_view::npos) {
      out += text;
      return;
    }
    out += text.substr(0, pair + 1);
    text.remove_prefix(pair + 1);
    skip_spaces();
  }
}

// An element whose children are being walked. `joined` is the flag handed to its first child;
// `previous_start` is where the output stood when the previous child began, so what that child
// produced is the output from there on.
struct Frame {
  const GumboNode* element;
  unsigned next_child;
  bool joined;
  size_t previous_start;
};

// Whether the child after `previous` may follow it without a separator.
bool joins_after(const GumboNode* previous, const std::string& out, size_t previous_start) {
  if (previous->type == GUMBO_NODE_TEXT) return true;
  if (previous->type == GUMBO_NODE_ELEMENT && is_inline_tag(previous->v.element.tag)) return true;
  return out.size() > previous_start && out.back() == ' ';
}

// gumbo frees its tree with one nested call per level; up to this depth that is harmless on any
// thread's stack.
constexpr size_t kRecursiveReleaseDepth = 512;

bool has_element_children(const GumboNode* node) {
  if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return false;
  const GumboVector& children = node->v.element.children;
  return std::any_of(children.data, children.data + children.length, [](const void* child) {
    auto type = static_cast<const GumboNode*>(child)->type;
    return type == GUMBO_NODE_ELEMENT || type == GUMBO_NODE_TEMPLATE;
  });
}

// The text of an element, its descendants walked in document order. The walk keeps its own stack,
// so nesting depth costs heap rather than call stack, and every element writes into one output,
// so each byte of text is copied once whatever its depth. `deep` is set when the tree may nest
// deeper than gumbo can safely free by recursion: when the walk goes deeper, or when it skips
// content (a template's, or markup inside a foreign script or style) that it cannot measure.
std::string html_node_text(const GumboNode* root, bool& deep) {
  std::string out;
  std::vector<Frame> stack;
  stack.push_back({root, 0, true, 0});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const GumboVector& children = frame.element->v.element.children;
    if (frame.next_child == children.length) {
      stack.pop_back();
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(children.data[frame.next_child]);
    bool joined = frame.next_child == 0
                      ? frame.joined
                      : joins_after(static_cast<const GumboNode*>(children.data[frame.next_child - 1]), out,
                                    frame.previous_start);
    frame.previous_start = out.size();
    ++frame.next_child;

    if (child->type == GUMBO_NODE_TEXT) {
      append_text(out, child->v.text.text, joined);
    } else if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag != GUMBO_TAG_STYLE &&
               child->v.element.tag != GUMBO_TAG_SCRIPT) {
      if (stack.size() >= kRecursiveReleaseDepth) deep = true;
      stack.push_back({child, 0, joined, 0});  // `frame` is not used after this
    } else if (has_element_children(child)) {
      deep = true;
    }
  }
  return out;
}

// A deep enough document would overflow the stack of the thread that frees it. Hanging every node
// straight under the document (and emptying the elements' child lists) leaves gumbo a tree two
// levels deep to free.
void flatten(const GumboOptions& options, GumboOutput* output) {
  GumboVector& top = output->document->v.document.children;
  std::vector<GumboNode*> nodes;
  std::vector<void*> pending(top.data, top.data + top.length);
  while (!pending.empty()) {
    auto* node = static_cast<GumboNode*>(pending.back());
    pending.pop_back();
    nodes.push_back(node);
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
      const GumboVector& children = node->v.element.children;
      pending.insert(pending.end(), children.data, children.data + children.length);
    }
  }
  // The document's new child list must come from gumbo's own allocator, which will free it.
  auto* flat = nodes.empty()
                   ? nullptr
                   : static_cast<void**>(options.allocator(options.userdata, nodes.size() * sizeof(void*)));
  if (flat) {
    for (size_t i = 0; i < nodes.size(); ++i) {
      flat[i] = nodes[i];
      if (nodes[i]->type == GUMBO_NODE_ELEMENT || nodes[i]->type == GUMBO_NODE_TEMPLATE) {
        nodes[i]->v.element.children.length = 0;
      }
    }
    options.deallocator(options.userdata, top.data);
    top.data = flat;
    top.length = top.capacity = static_cast<unsigned>(nodes.size());
  }
}

}  // namespace

// Past this many open elements gumbo's parse time grows with the square of the depth (minutes for
// a few hundred thousand); such input is converted from its text with the markup stripped.
constexpr size_t kMaxParsedNesting = 512;

std::string Utility::html_to_text(const std::string& html) {
  if (html_flat::nests_deeper_than(html, kMaxParsedNesting)) return html_to_text(html_flat::strip_tags(html));
  GumboOptions options = kGumboDefaultOptions;
  // Each recorded parse error keeps a copy of the stack of open elements, which makes deeply
  // nested input cost memory and time quadratic in its depth; the errors are never read here.
  options.max_errors = 0;
  GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
  bool deep = false;
  std::string text = html_node_text(output->root, deep);
  if (deep) flatten(options, output);
  gumbo_destroy_output(&options, output);
  return trim(text, " \n\t");
}

}  // namespace libkestrun
