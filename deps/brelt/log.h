// The network library's log lines: "brelt::<tag>: <message>", with control bytes of the message
// written as \xNN.
#pragma once

#include <cstdint>
#include <string>

namespace brelt {

// Standard error, flushed.
void log_error(const std::string& tag, const std::string& message);
void log_error(const std::string& tag, int64_t message);
// Standard output, not flushed.
void log_info(const std::string& tag, const std::string& message);
void log_info(const std::string& tag, int64_t message);
void log_debug(const std::string& tag, const std::string& message);
void log_debug(const std::string& tag, int64_t message);

}  // namespace brelt
