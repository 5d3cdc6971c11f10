// The localization service. Only English exists for now: every lookup returns its key.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

class Localization {
 public:
  static Localization& instance();

  // Name of the current locale ("en" when none was set); may be set to "" by the host.
  std::string get_current_locale() const;
  void set_current_locale(std::string locale);

  std::string localized_string(const std::string& english, const std::string& comment) const;
  std::string pluralized_string(const std::string& singular, const std::string& plural, int64_t count,
                                const std::string& comment) const;

 private:
  Localization() = default;
  mutable std::mutex mutex_;
  std::string locale_ = "en";
};

#define LOCALIZED_STRING(english, comment) Localization::instance().localized_string((english), (comment))
#define PLURALIZED_STRING(singular, plural, count, comment) \
  Localization::instance().pluralized_string((singular), (plural), (count), (comment))
