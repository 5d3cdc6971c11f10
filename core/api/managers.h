// The aggregate of the core's long-lived managers, owned by the core facade, as the layers below
// it see it: the data center is handed a pointer to it and reaches the counts manager through it;
// the server client authenticates its connections with the user manager and hands the account,
// user and preference managers to the sub-clients that read or update them.
// The facade's full aggregate implements this interface; members live as long as the aggregate.
#pragma once

#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/foundation/pref_manager.h"
#include "core/services/counts_manager.h"

namespace libkestrun {

class Managers {
 public:
  virtual ~Managers() = default;

  virtual AccountManager* accountManager() = 0;
  virtual CountsManager& countsManager() = 0;
  virtual PrefManager* prefManager() = 0;
  virtual UserManager* userManager() = 0;
};

}  // namespace libkestrun
