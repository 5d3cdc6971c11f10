// The core's counting semaphore: the same one the core thread's synchronous calls wait on.
#pragma once

#include "brelt/semaphore.h"

namespace patch {

using semaphore = brelt::Semaphore;

}  // namespace patch
