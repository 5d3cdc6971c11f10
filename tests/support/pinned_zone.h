// Pins the process's local time zone (TZ) for one scope and puts the previous one back, and names
// instants by their wall-clock time in the pinned zone.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kestrun_test {

class PinnedZone {
 public:
  explicit PinnedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~PinnedZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  PinnedZone(const PinnedZone&) = delete;
  PinnedZone& operator=(const PinnedZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

// A wall-clock time of the current zone (month 1 to 12).
struct Wall {
  int year, month, day, hour, minute, second;
};

// The instant of a wall-clock time in the current zone, in seconds since 1970.
inline int64_t wall_seconds(const Wall& w) {
  std::tm t = {};
  t.tm_year = w.year - 1900;
  t.tm_mon = w.month - 1;
  t.tm_mday = w.day;
  t.tm_hour = w.hour;
  t.tm_min = w.minute;
  t.tm_sec = w.second;
  t.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&t));
}

inline int64_t wall_ms(const Wall& w) { return wall_seconds(w) * 1000; }

}  // namespace kestrun_test
