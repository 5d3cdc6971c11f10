// The signature that resource requests carry: the MD5, in hex, of the key bytes, the canonical text
// of the signed fields and the nonce (the client's time in milliseconds, as decimal text).
#pragma once

#include <string>
#include <vector>

#include "tools/sync_server/json.h"

namespace sync_server {

// One line for a JSON value: null as "null", numbers truncated to integers, booleans as 1 and 0,
// strings as they are, arrays and objects flattened with "," between members and "key:" before
// each object member, keys in byte order.
std::string canonical_text(const json_t* value);

std::string object_signature(const std::vector<unsigned char>& key, const json_t* signed_object,
                             const std::string& nonce);

}  // namespace sync_server
