// Dates and times written the way each locale writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What LOCALIZED_TIMESTAMP renders; the values are fixed by its callers.
enum hvx_date_string_type {
  HVX_DATE_STRING_TIME = 0,       // "3:07 PM"
  HVX_DATE_STRING_MONTH_DAY = 4,  // "Mar 5", a date in the current year
  HVX_DATE_STRING_DATE_TIME = 6,  // "Mar 5, 2026 at 3:07 PM"
  HVX_DATE_STRING_DATE = 7,       // "Thu, Mar 5, 2026"
  HVX_DATE_STRING_DATE_YEAR = 8,  // "Mar 5, 2026"
};

namespace localization {

// `millis` (milliseconds since 1970) in the local time zone (TZ), written in the forms of the
// locale `id`, else of its language, else of "en". Codes other than the five above are written
// as date and time.
std::string format_timestamp(std::string_view id, hvx_date_string_type code, int64_t millis);

}  // namespace localization
