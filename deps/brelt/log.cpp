#include "brelt/log.h"

#include <iostream>

namespace brelt {

namespace {

const std::string kPrefix = "brelt::";
const std::string kNewline = "\n";

// Messages may carry bytes from a peer (a parse error quoting its input, a status text): control
// bytes are shown as \xNN so they cannot forge lines or drive a terminal.
std::string escaped(const std::string& message) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(message.size());
  for (unsigned char c : message) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void write_line(std::ostream& out, const std::string& tag, const std::string& message) {
  // One insertion per line so lines from different threads do not interleave mid-line.
  out << (kPrefix + tag + ": " + escaped(message) + kNewline);
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
