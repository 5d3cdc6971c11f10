#include "core/foundation/utility.h"

namespace libkestrun {

int64_t Utility::now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct tm Utility::local_now() {
  return local_time(std::chrono::system_clock::now());
}

struct tm Utility::local_time(std::chrono::system_clock::time_point when) {
  // Whole seconds toward the past, so an instant before 1970 keeps its own second.
  time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
  struct tm local = {};
  localtime_r(&seconds, &local);
  return local;
}

int64_t Utility::ms_until_tomorrow() { return ms_until_tomorrow(now_ms()); }

int64_t Utility::ms_until_tomorrow(int64_t now_ms) {
  std::chrono::system_clock::time_point now{std::chrono::milliseconds(now_ms)};
  struct tm today = local_time(now);
  struct tm target = {};
  target.tm_year = today.tm_year;
  target.tm_mon = today.tm_mon;
  target.tm_mday = today.tm_mday + 1;  // mktime carries into the next month and year
  target.tm_hour = 0;
  target.tm_min = 0;
  target.tm_sec = 1;
  // Whether daylight-saving time holds at that moment is the zone's to say, not today's.
  target.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&target)) * 1000 - now_ms;
}

std::string Utility::trim(const std::string& text, const std::string& chars) {
  size_t first = text.find_first_not_of(chars);
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

std::string Utility::trim_left(const std::string& text, const std::string& chars) {
  size_t first = text.find_first_not_of(chars);
  return first == std::string::npos ? "" : text.substr(first);
}

std::string Utility::trim_right(const std::string& text, const std::string& chars) {
  size_t last = text.find_last_not_of(chars);
  return last == std::string::npos ? "" : text.substr(0, last + 1);
}

std::string Utility::collapse_spaces(const std::string& text) {
  std::string collapsed;
  collapsed.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' && i > 0 && text[i - 1] == ' ') continue;
    collapsed += text[i];
  }
  return collapsed;
}

std::vector<unsigned char> Utility::delta_decode(const std::vector<uint16_t>& steps, int seed) {
  std::vector<unsigned char> bytes;
  bytes.reserve(steps.size());
  auto accumulator = static_cast<uint16_t>(seed);
  for (uint16_t step : steps) {
    accumulator = static_cast<uint16_t>(accumulator + step);
    bytes.push_back(static_cast<unsigned char>(accumulator & 0xFF));
  }
  return bytes;
}

}  // namespace libkestrun
