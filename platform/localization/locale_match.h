// Choosing one of the available locale tables for a requested locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace localization {

// The table for `requested`, a POSIX locale name ("de_AT.UTF-8@euro") or a language tag
// ("zh-Hant-HK"), among `available` (identifiers such as "de", "pt_BR", "zh_TW"). Tried in turn:
// the exact identifier; Chinese by script or region (Hant, TW, HK and MO to "zh_TW", any other
// Chinese to "zh_CN"); the language's own table ("de_AT" to "de", so every Spanish region but
// Spain to "es"); the language's only regional table ("pt_PT" to "pt_BR", "sv" to "sv_SE").
// Anything else, "C" and "POSIX" included, gives "en".
std::string match_locale(std::string_view requested, const std::vector<std::string>& available);

// The language part of an identifier: "pt" for "pt_BR".
std::string_view language_of(std::string_view id);

}  // namespace localization
