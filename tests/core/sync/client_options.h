// The connection options of a test's own client of the local sync server on 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>

#include "brelt/api_client.h"
#include "sync_client.h"

namespace kestrun_test {

inline brelt::ApiClient::Options client_options(uint16_t port) {
  brelt::ApiClient::Options options;
  options.version = "1.0";
  options.device = "macos";
  options.host = "localhost";
  options.port = std::to_string(port);
  options.hmac_key = sync_server_test::test_key();
  return options;
}

}  // namespace kestrun_test
