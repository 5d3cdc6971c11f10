// One server environment: the sync server, the HTTPS endpoints of the resource services, and the
// key that signs client frames. The host builds each environment (keys at run time) and hands the
// one to use to the core, which treats the key as an opaque 32-byte string and keeps copies of the
// fields it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace libkestrun {

// The six HTTPS endpoints, in the order ServerEnv holds them; the e-mail resource manager keeps
// exactly this group.
struct ServerUrls {
  std::string attachment_download_url;  // path "/service/mail/attachment_download"
  std::string body_url;                 // path "/service/mail/body"
  std::string text_body_url;            // path "/service/mail/text_body"
  std::string object_download_url;      // object-storage downloads, or a storage bucket's URL
  std::string shared_link_url;          // prefix of shared file links; path "/s"
  std::string upload_url;               // multipart uploads; path "/upload"
};

struct ServerEnv {
  std::string host;  // sync server host name
  std::string port;  // sync server port, as decimal text
  std::string attachment_download_url;
  std::string body_url;
  std::string text_body_url;
  std::string object_download_url;
  std::string shared_link_url;
  std::string upload_url;
  std::vector<uint8_t> signing_key;  // HMAC-SHA256 key of client frames and resource requests
  std::vector<uint8_t> extra_bytes;  // empty in every environment the host defines

  // Copies the six URLs, in field order, into the receiver's group.
  void copy_urls(ServerUrls& receiver) const;
};

}  // namespace libkestrun
