// The test builds' way to give the default TLS context another trust anchor. Only test programs
// link it; the library itself trusts its built-in roots alone.
#pragma once

namespace kestrun_test {

// Adds the test certification authority (test_certificates().authority) to the default context's
// trust store; later calls do nothing.
void trust_test_authority();

}  // namespace kestrun_test
