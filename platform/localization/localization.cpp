#include "localization/localization.h"

Localization& Localization::instance() {
  static Localization shared;
  return shared;
}

std::string Localization::get_current_locale() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return locale_;
}

void Localization::set_current_locale(std::string locale) {
  std::lock_guard<std::mutex> lock(mutex_);
  locale_ = std::move(locale);
}

std::string Localization::localized_string(const std::string& english, const std::string&) const {
  return english;
}

std::string Localization::pluralized_string(const std::string& singular, const std::string& plural,
                                            int64_t count, const std::string&) const {
  return count == 1 ? singular : plural;
}
