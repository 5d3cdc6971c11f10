// The locales' data files, built into the library (see embed_locales.cmake).
#pragma once

#include <string_view>

namespace libkestrun::locales {

// The text of data/<id>.strings; empty for a locale without a file.
std::string_view locale_data(std::string_view id);

}  // namespace libkestrun::locales
