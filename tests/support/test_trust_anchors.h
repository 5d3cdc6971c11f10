// The test builds' way to give the default TLS context another trust anchor. Only test programs
// link it; the library itself trusts its built-in roots alone.
#pragma once

#include <string>

namespace kestrun_test {

// Adds the test certification authority (test_certificates().authority) to the default context's
// trust store; later calls do nothing.
void trust_test_authority();
// Adds the authority of `pem` (a certificate) to the default context's trust store.
void trust_authority_pem(const std::string& pem);

}  // namespace kestrun_test
