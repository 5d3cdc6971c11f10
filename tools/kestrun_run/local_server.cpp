#include "local_server.h"

#include <openssl/pem.h>

#include <stdexcept>

#include "brelt/tls_filter.h"
#include "brelt/trust_store.h"

namespace kestrun_run {

namespace {

// The local sync server's development key (docs/sync-protocol.md, "Wire").
const char kDevelopmentKey[] = "kestrun-local-sync-key";

void trust_authority(const std::string& pem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                &BIO_free);
  if (!bio) throw std::runtime_error("out of memory reading the server's authority");
  brelt::X509Ptr authority(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!authority) throw std::runtime_error("the server's authority is not a certificate");
  // The store takes its own reference; a certificate already there is no failure.
  if (X509_STORE_add_cert(SSL_CTX_get_cert_store(brelt::TlsFilter::default_context()), authority.get()) != 1)
    throw std::runtime_error("the server's authority cannot be trusted");
}

}  // namespace

LocalServer::LocalServer(const std::string& state_directory) {
  sync_server::ServerOptions options;
  options.state_directory = state_directory;
  const std::string key = kDevelopmentKey;
  options.hmac_key.assign(key.begin(), key.end());
  server_ = std::make_unique<sync_server::SyncServer>(options);
  trust_authority(server_->authority_pem());
}

libkestrun::Config LocalServer::config(const std::string& data_directory) const {
  // The server's certificate names "localhost".
  const std::string base = "https://localhost:" + std::to_string(server_->resource_port());
  libkestrun::Config config;
  config.server_env.host = "localhost";
  config.server_env.port = std::to_string(server_->port());
  config.server_env.attachment_download_url = base + "/service/mail/attachment_download";
  config.server_env.body_url = base + "/service/mail/body";
  config.server_env.text_body_url = base + "/service/mail/text_body";
  config.server_env.object_download_url = base + "/s3_download";
  config.server_env.shared_link_url = base + "/s";
  config.server_env.upload_url = base + "/upload";
  const std::string key = kDevelopmentKey;
  config.server_env.signing_key.assign(key.begin(), key.end());
  config.database_name = "kestrun.db";
  config.in_memory_database = false;
  config.encrypt_database = true;
  config.device_type = libkestrun::DEVICE_TYPE_MACOS;
  config.bundle_id = "com.kestrun.run";
  config.app_version = "1.0";
  config.data_directory = data_directory;
  config.resource_directory = data_directory;
  config.connection_type = libkestrun::INTERNET_CONNECTION_WIFI;
  config.sanity_dump_url = base + "/sanity/dump";
  config.zero_inbox_base_url = base + "/kestrun-zero-inbox/";
  return config;
}

}  // namespace kestrun_run
