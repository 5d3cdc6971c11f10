#include "brelt/log.h"

#include <gtest/gtest.h>

#include <string>

namespace brelt {
namespace {

// Text from a peer reaches log lines inside error messages; its control bytes must not forge a
// line of their own or drive the terminal.
TEST(Log, ControlBytesOfAMessageAreEscaped) {
  struct Case {
    std::string message;
    std::string line;
  } cases[] = {
      {"plain text, é", "brelt::Tag: plain text, é\n"},
      {"bad\nbrelt::Forged: line", "brelt::Tag: bad\\x0abrelt::Forged: line\n"},
      {std::string("\x1b[2J\r\x7f\0end", 10), "brelt::Tag: \\x1b[2J\\x0d\\x7f\\x00end\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    log_error("Tag", c.message);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
  }
}

}  // namespace
}  // namespace brelt
