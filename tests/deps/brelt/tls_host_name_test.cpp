#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <iostream>
#include <string>
#include <vector>

#include "brelt/host_name_validator.h"
#include "support/test_certificates.h"

namespace brelt {
namespace {

using kestrun_test::AltName;
using kestrun_test::certificate_with_alt_names;

TEST(HostNameTest, EntriesMatchWholeNamesAndOneLeftMostWildcardLabel) {
  struct Case {
    const char* entry;
    const char* host;
    bool matches;
  } cases[] = {
      {"a.b.c", "a.b.c", true},
      {"*.b.c", "a.b.c", true},
      {"A.B.C", "a.b.c", true},  // names compare without regard to case, both ways
      {"a.b.c", "A.B.C", true},
      {"*.B.c", "X.b.C", true},
      {"a.b.c", "a.b.cd", false},
      {"a.b.c", "a.b", false},
      {"*.b.c", "b.c", false},      // the wildcard must cover one whole label
      {"*.b.c", "x.a.b.c", false},  // and only one
      {"*.b.c", ".b.c", false},
      {"*.c", "a.b.c", false},
      {"*.c", "b.c", false},  // a wildcard needs at least three labels
      {"*.com", "example.com", false},
      {"*", "a", false},
      {"*", "a.b.c", false},
      {"*b.c", "xb.c", false},  // partial labels never match
      {"x*.b.c", "xa.b.c", false},
      {"a*.b.c", "a.b.c", false},
      {"a.*.c", "a.b.c", false},
      {"*.*.c", "a.b.c", false},
      {"*.b..c", "a.b..c", false},
      {"", "a.b.c", false},
      {"a.b.c", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_name_matches(c.entry, c.host), c.matches) << c.entry << " for " << c.host;
  }
}

TEST(HostNameTest, OnlyAWildcardMatchLogsItsPattern) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(host_name_matches("*.b.c", "a.b.c"));
  EXPECT_TRUE(host_name_matches("a.b.c", "a.b.c"));
  EXPECT_FALSE(host_name_matches("*.b.c", "b.c"));
  std::cout.flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "brelt::DNS: pattern `.b.c` matched a.b.c\n");
}

TEST(HostNameTest, ValidatorReadsOnlyDnsEntriesOfTheSubjectAltName) {
  struct Case {
    const char* name;
    std::vector<AltName> entries;
    std::string host;
    bool accepted;
  } cases[] = {
      {"no subjectAltName, host only as common name", {}, "localhost", false},
      {"IP entries are not names", {{AltName::kIp, "127.0.0.1"}}, "127.0.0.1", false},
      {"later entry matches",
       {{AltName::kDns, ""}, {AltName::kDns, "other"}, {AltName::kDns, "Localhost"}},
       "localhost",
       true},
      {"embedded NUL", {{AltName::kDns, std::string("localhost\0.evil.example", 23)}}, "localhost", false},
      {"wildcard", {{AltName::kDns, "*.Example.com"}}, "www.example.COM", true},
      {"wildcard for too short a name", {{AltName::kDns, "*.example"}}, "www.example", false},
  };
  for (const Case& c : cases) {
    X509Ptr certificate = certificate_with_alt_names(c.entries);
    EXPECT_EQ(HostnameValidator{c.host}(certificate.get()), c.accepted) << c.name;
  }
}

TEST(HostNameTest, PinningAcceptsOnlyTheExpectedCertificate) {
  X509Ptr pinned =
      kestrun_test::parse_certificate(kestrun_test::test_certificates().localhost.certificate_pem);
  X509Ptr other =
      kestrun_test::parse_certificate(kestrun_test::test_certificates().other_host.certificate_pem);
  unsigned char* der = nullptr;
  int length = i2d_X509(pinned.get(), &der);
  ASSERT_GT(length, 0);
  PinningValidator validator{std::vector<unsigned char>(der, der + length)};
  OPENSSL_free(der);

  testing::internal::CaptureStderr();
  EXPECT_TRUE(validator(pinned.get()));
  EXPECT_FALSE(validator(other.get()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brelt::PinningValidator: cert did not match expected cert\n");
}

}  // namespace
}  // namespace brelt
