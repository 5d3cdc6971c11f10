// The params object of a hook call as request fields: each member's value as text, strings as
// they are and every other value as its compact JSON text.
#pragma once

#include <jansson.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrun_host {

// The members of `params` in order; none when it is null or not an object.
std::vector<std::pair<std::string, std::string>> form_fields(json_t* params);

// "k1=v1&k2=v2", each name and value percent-encoded; empty when there are no fields.
std::string url_encoded(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace kestrun_host
