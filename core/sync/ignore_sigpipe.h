// The network library writes to sockets with write(2). A peer that closes while a write is under
// way then raises SIGPIPE, whose default action ends the process; the library already reports the
// failed write (EPIPE) as a write error, so the signal carries nothing the core needs.
#pragma once

namespace libkestrun::internal {

// Sets SIGPIPE to be ignored; setting it again is harmless. Any thread. Ends the process when the
// signal's action cannot be set: carrying on would let the first closed connection kill it at a
// random later moment.
void ignore_sigpipe();

}  // namespace libkestrun::internal
