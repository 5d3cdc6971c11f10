// The localization service: locale tables, the current locale and the lookups of the core's
// user-visible texts.
//
// A table maps English source texts (its keys) to one locale's wording. Tables are registered by
// constructing a LocaleWrapper, normally as an object with static storage duration; a plural text
// has one key per plural category of the table's language, the text followed by "##{one}",
// "##{few}", "##{many}" or "##{other}".
//
// The current locale is the one the host set, else the environment's (LC_ALL, LC_MESSAGES,
// LANG, the first that is set), matched to the registered tables (see locale_match.h). A lookup
// that finds no table or no entry returns its English text, so callers keep working in English.
//
// Threads: every member may be called from any thread; tables and the current locale are guarded
// by one reader-writer lock, taken shared by lookups.
#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "localization/date_forms.h"

class Localization {
 public:
  using Table = std::unordered_map<std::string, std::string>;

  // The process-wide service; never destroyed before the tables' wrappers.
  static Localization& instance();

  // The identifier of the table that lookups use: a registered table's, or "en".
  std::string get_current_locale() const;
  // A locale name from the host ("de_AT", "zh-Hant"); "" goes back to the environment's.
  void set_current_locale(std::string requested);

  // Identifiers of the registered tables, sorted.
  std::vector<std::string> locales() const;

  // The current table's wording of `text`, else `text` itself. The comment is for translators.
  std::string localized_string(const std::string& text, const std::string& comment) const;

  // The current table's wording of `plural` for the plural category of `count`; the table's
  // "other" form when it has no form of that category. Where the entry is the English plural
  // text itself (or there is none), `singular` is used for category one and `plural` otherwise.
  std::string pluralized_string(const std::string& singular, const std::string& plural, std::string comment,
                                int64_t count) const;

  // `millis` since 1970 as a local date or time in the current locale's forms.
  std::string localized_timestamp(hvx_date_string_type code, int64_t millis) const;

 private:
  friend class LocaleWrapper;

  Localization();
  // False when a table of that identifier is registered already.
  bool add_table(std::string id, Table table);
  void remove_table(const std::string& id);
  // Matches the requested locale to the tables; the caller holds the lock exclusively.
  void resolve();

  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, Table> tables_;  // by identifier
  std::string requested_;                          // from the host, or "" for the environment's
  std::string current_;                            // identifier the lookups use
  const Table* current_table_ = nullptr;           // in tables_, or null
};

// Registers one table for as long as the object lives.
class LocaleWrapper {
 public:
  LocaleWrapper(std::string id, std::unordered_map<std::string, std::string> table);
  ~LocaleWrapper();
  LocaleWrapper(const LocaleWrapper&) = delete;
  LocaleWrapper& operator=(const LocaleWrapper&) = delete;

 private:
  std::string id_;
  bool registered_;
};

#define LOCALIZED_STRING(text, comment) Localization::instance().localized_string((text), (comment))
#define PLURALIZED_STRING(singular, plural, comment, count) \
  Localization::instance().pluralized_string((singular), (plural), (comment), (count))
#define LOCALIZED_TIMESTAMP(code, millis) Localization::instance().localized_timestamp((code), (millis))
