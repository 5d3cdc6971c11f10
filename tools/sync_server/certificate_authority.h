// The server's own certification authority and its certificate for "localhost", made on the first
// start and kept in the state directory (authority.pem, authority-key.pem, server.pem,
// server-key.pem), so clients that once trusted the authority keep trusting later starts.
#pragma once

#include <string>

namespace sync_server {

struct ServerIdentity {
  std::string authority_pem;    // the authority's certificate: what clients add as a trust anchor
  std::string certificate_pem;  // the server's certificate, then the authority's
  std::string key_pem;          // the server's private key
};

// Loads the identity from `directory`, making whatever part is missing (a leaf that has expired
// is made again from the same authority). Throws std::runtime_error when OpenSSL or the files
// fail.
ServerIdentity load_or_make_identity(const std::string& directory);

}  // namespace sync_server
