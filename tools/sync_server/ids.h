// Fresh identifiers and secrets from OpenSSL's generator.
#pragma once

#include <string>

namespace sync_server {

// `bytes` random bytes as lower-case hex.
std::string random_hex(size_t bytes);
// A random UUID in upper-case text, as the client writes object ids.
std::string random_uuid();

}  // namespace sync_server
