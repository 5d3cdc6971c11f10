#include "core/api/server_env.h"

namespace libkestrun {

void ServerEnv::copy_urls(ServerUrls& receiver) const {
  receiver.attachment_download_url = attachment_download_url;
  receiver.body_url = body_url;
  receiver.text_body_url = text_body_url;
  receiver.object_download_url = object_download_url;
  receiver.shared_link_url = shared_link_url;
  receiver.upload_url = upload_url;
}

}  // namespace libkestrun
