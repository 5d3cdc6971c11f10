// Identifiers made up by the client: the text of a random (version 4) UUID, five dash-separated
// groups of 8, 4, 4, 4 and 12 hexadecimal digits. Callable on any thread; no state is kept.
#pragma once

#include <string>
#include <string_view>

namespace brelt {

// A fresh identifier from 16 secure random bytes, in upper- or lower-case digits.
std::string generate_uuid(bool upper);
std::string generate_uuid_upper();
std::string generate_uuid_lower();

// The identifier text of 16 given bytes, with the version and variant bits forced. The generators
// above are this over secure random bytes; it is separate so that the layout can be checked on
// known bytes.
std::string uuid_from_bytes(std::string_view bytes, bool upper);

}  // namespace brelt
