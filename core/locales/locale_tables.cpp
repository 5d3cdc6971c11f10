// The core's locale tables, registered with the localization service during static
// initialisation, before main and before any thread starts. This library is linked whole (see
// CMakeLists.txt), so no table can be left out of a program that links the core.
#include <string>
#include <unordered_map>

#include "core/locales/locale_data.h"
#include "core/locales/locale_file.h"
#include "localization/localization.h"

namespace libkestrun::locales {

namespace {

std::unordered_map<std::string, std::string> table(std::string_view id) {
  LocaleFile file = parse_locale_file(locale_data(id));
  // A malformed line was skipped; the data checker test keeps the files free of them.
  return std::unordered_map<std::string, std::string>(file.entries.begin(), file.entries.end());
}

// Constructed in this order and destroyed in the reverse order.
LocaleWrapper da_DK("da_DK", table("da_DK"));
LocaleWrapper de("de", table("de"));
LocaleWrapper en("en", table("en"));
LocaleWrapper es("es", table("es"));
LocaleWrapper es_ES("es_ES", table("es_ES"));
LocaleWrapper fr("fr", table("fr"));
LocaleWrapper id("id", table("id"));
LocaleWrapper it("it", table("it"));
LocaleWrapper ja("ja", table("ja"));
LocaleWrapper ko("ko", table("ko"));
LocaleWrapper ms("ms", table("ms"));
LocaleWrapper nl_NL("nl_NL", table("nl_NL"));
LocaleWrapper pl("pl", table("pl"));
LocaleWrapper pt_BR("pt_BR", table("pt_BR"));
LocaleWrapper ru("ru", table("ru"));
LocaleWrapper sv_SE("sv_SE", table("sv_SE"));
LocaleWrapper th_TH("th_TH", table("th_TH"));
LocaleWrapper zh_CN("zh_CN", table("zh_CN"));
LocaleWrapper zh_TW("zh_TW", table("zh_TW"));

}  // namespace

}  // namespace libkestrun::locales
