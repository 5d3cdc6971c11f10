// The run program's sync step: one sample account's conversations from the local sync server
// into the local database, through the stand-in client of sync_stand_in.h. Like that client it
// is this program's own and goes once the core's server client exists.
#pragma once

#include <chrono>
#include <string>

#include "brelt/uv_thread.h"
#include "core/foundation/defaults.h"

namespace kestrun_run {

// Registers a device on the first run (its credentials stay in `defaults`; later runs
// authenticate with them), adds the sample account maya.lind@example.com, asks for the account's
// snapshot since the change tokens of the last run and applies it through the data center (one
// data task; the inbox's live queries report what it changed), which stores the new tokens. The
// data center must be open on `core`. Returns false, having said why, when the server at `address`
// cannot be reached (no trust anchor under `state`/sync-server, or no connection); throws when
// it stops answering or refuses a request.
bool sync_sample_account(brelt::UvThread& core, libkestrun::Defaults& defaults, const std::string& state,
                         const std::string& address, std::chrono::milliseconds deadline);

}  // namespace kestrun_run
