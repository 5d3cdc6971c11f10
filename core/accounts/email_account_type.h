// The provider kind of a mail account, as stored in the account values and the user document's
// account associations. Other numbers read from storage or the server are kept as they are.
#pragma once

#include <cstdint>

namespace libkestrun {

enum class EmailAccountType : int32_t {
  Gmail = 1,
  ICloud = 2,
  Office365 = 3,
  Outlook = 4,
  Exchange = 5,
  Yahoo = 6,
};

}  // namespace libkestrun
