// The core's source of the user's clock format; a platform may subclass it.
#pragma once

namespace libkestrun {

class DateUtility {
 public:
  virtual ~DateUtility() = default;

  // Whether the user's clock shows 24 hours. This class answers false.
  virtual bool user_prefers_24_hour_clock();
};

}  // namespace libkestrun
