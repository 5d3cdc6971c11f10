// The locale tables as the data files give them, for the tests of this folder.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/locales/locale_file.h"

namespace kestrun_test {

struct LocaleInfo {
  std::string id;
  std::vector<std::string> plural_categories;
};

// The nineteen locales in the order of their registration.
const std::vector<LocaleInfo>& all_locales();

// The data file of a locale, parsed.
libkestrun::locales::LocaleFile read_locale_file(const std::string& id);

// The 119 source texts that every table translates.
const std::vector<std::string>& common_texts();

}  // namespace kestrun_test
