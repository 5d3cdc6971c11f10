#include "localization/localization.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "localization/locale_match.h"
#include "localization/plural_rules.h"

namespace {

// The environment's locale name for messages, as setlocale would choose it.
std::string environment_locale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return std::string();
}

const char kPluralSeparator[] = "##{";

}  // namespace

Localization& Localization::instance() {
  static Localization shared;
  return shared;
}

Localization::Localization() { resolve(); }

std::string Localization::get_current_locale() const {
  std::shared_lock lock(mutex_);
  return current_;
}

void Localization::set_current_locale(std::string requested) {
  std::unique_lock lock(mutex_);
  requested_ = std::move(requested);
  resolve();
}

std::vector<std::string> Localization::locales() const {
  std::shared_lock lock(mutex_);
  std::vector<std::string> ids;
  for (const auto& [id, table] : tables_) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string Localization::localized_string(const std::string& text, const std::string&) const {
  std::shared_lock lock(mutex_);
  if (current_table_) {
    auto found = current_table_->find(text);
    if (found != current_table_->end()) return found->second;
  }
  return text;
}

std::string Localization::pluralized_string(const std::string& singular, const std::string& plural,
                                            std::string, int64_t count) const {
  std::shared_lock lock(mutex_);
  std::string_view category = localization::plural_category(localization::language_of(current_), count);
  const std::string* wording = nullptr;
  if (current_table_) {
    for (std::string_view tried : {category, std::string_view("other")}) {
      auto found = current_table_->find(plural + kPluralSeparator + std::string(tried) + "}");
      if (found != current_table_->end()) {
        wording = &found->second;
        break;
      }
    }
  }
  if (wording && *wording != plural) return *wording;
  // English: the table keeps one wording, the plural; the singular is the caller's.
  return localization::plural_category("en", count) == "one" ? singular : plural;
}

std::string Localization::localized_timestamp(hvx_date_string_type code, int64_t millis) const {
  std::string id = get_current_locale();
  return localization::format_timestamp(id, code, millis);
}

bool Localization::add_table(std::string id, Table table) {
  std::unique_lock lock(mutex_);
  bool added = tables_.emplace(std::move(id), std::move(table)).second;
  if (added) resolve();
  return added;
}

void Localization::remove_table(const std::string& id) {
  std::unique_lock lock(mutex_);
  tables_.erase(id);
  resolve();
}

void Localization::resolve() {
  std::vector<std::string> ids;
  for (const auto& [id, table] : tables_) ids.push_back(id);
  current_ = localization::match_locale(requested_.empty() ? environment_locale() : requested_, ids);
  auto found = tables_.find(current_);
  current_table_ = found == tables_.end() ? nullptr : &found->second;
}

LocaleWrapper::LocaleWrapper(std::string id, std::unordered_map<std::string, std::string> table)
    : id_(id), registered_(Localization::instance().add_table(std::move(id), std::move(table))) {}

LocaleWrapper::~LocaleWrapper() {
  if (registered_) Localization::instance().remove_table(id_);
}
