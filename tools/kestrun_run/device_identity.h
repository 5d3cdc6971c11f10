// Who this device is to the sync server when the run program registers it: the vendor id and the
// device's name, as the desktop host passes them.
#pragma once

#include <string>

namespace kestrun_run {

// The machine's id from /etc/machine-id; without one, a UUID made once and kept in
// `data_directory`/vendor-id. Throws std::runtime_error when that file cannot be written.
std::string vendor_id(const std::string& data_directory);

// The host name; "localhost" when the system gives none.
std::string device_name();

}  // namespace kestrun_run
