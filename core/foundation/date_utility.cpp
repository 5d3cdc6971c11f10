#include "core/foundation/date_utility.h"

namespace libkestrun {

bool DateUtility::user_prefers_24_hour_clock() { return false; }

}  // namespace libkestrun
