// A host name whose lookup stalls, as a resolver that never answers does: this program's own
// getaddrinfo holds every lookup of kStalledHost until released and hands all other names to the
// system's. It lets a test stop a transfer that is still waiting for its address.
#pragma once

namespace kestrun_host {

inline constexpr char kStalledHost[] = "stalled-lookup.test";

// Waits until a lookup of kStalledHost is held; false after a generous deadline.
bool wait_for_stalled_lookup();
// Ends every held lookup, present and future, with "no such name".
void release_stalled_lookups();

}  // namespace kestrun_host
