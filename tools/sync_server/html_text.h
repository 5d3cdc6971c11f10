// The visible text of an HTML body, for preview lines and plain-text bodies: tags dropped, runs of
// spaces and tags between words made one space. Entities are kept as written.
#pragma once

#include <cstddef>
#include <string>

namespace sync_server {

// At most `limit` bytes (0: no limit); a shortened text ends with "...".
std::string html_text(const std::string& html, size_t limit = 0);

}  // namespace sync_server
