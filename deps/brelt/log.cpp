#include "brelt/log.h"

#include <iostream>

namespace brelt {

namespace {

const std::string kPrefix = "brelt::";
const std::string kNewline = "\n";

void write_line(std::ostream& out, const std::string& tag, const std::string& message) {
  // One insertion per line so lines from different threads do not interleave mid-line.
  out << (kPrefix + tag + ": " + message + kNewline);
}

}  // namespace

void log_error(const std::string& tag, const std::string& message) {
  write_line(std::cerr, tag, message);
  std::cerr.flush();
}
void log_error(const std::string& tag, int64_t message) { log_error(tag, std::to_string(message)); }

void log_info(const std::string& tag, const std::string& message) { write_line(std::cout, tag, message); }
void log_info(const std::string& tag, int64_t message) { log_info(tag, std::to_string(message)); }

void log_debug(const std::string& tag, const std::string& message) { log_info(tag, message); }
void log_debug(const std::string& tag, int64_t message) { log_info(tag, message); }

}  // namespace brelt
