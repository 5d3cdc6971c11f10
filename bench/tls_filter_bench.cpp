// Sending 1 MiB of plaintext over an established TLS 1.2 connection, 16 KiB per write, to an
// OpenSSL server on memory BIOs that decrypts it all: through our TLS filter, against a bare OpenSSL
// client on memory BIOs doing the same copying between the two ends.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <memory>
#include <vector>

#include "brelt/host_name_validator.h"
#include "brelt/streams.h"
#include "brelt/tls_filter.h"

namespace {

constexpr size_t kTotal = 1 << 20;
constexpr size_t kWrite = 16384;

// A self-signed certificate for "localhost" and the contexts of both ends: the client trusts
// exactly that certificate and speaks TLS 1.2 only, like the default context.
struct Contexts {
  Contexts() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
    X509_set_pubkey(certificate, key);
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:localhost");
    X509_add_ext(certificate, names, -1);
    X509_EXTENSION_free(names);
    X509_sign(certificate, key, EVP_sha256());

    server = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(server, certificate);
    SSL_CTX_use_PrivateKey(server, key);
    client = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(client, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(client, TLS1_2_VERSION);
    X509_STORE_add_cert(SSL_CTX_get_cert_store(client), certificate);
    X509_free(certificate);
    EVP_PKEY_free(key);
  }
  SSL_CTX* server;
  SSL_CTX* client;
};

const Contexts& contexts() {
  static const Contexts instance;
  return instance;
}

// The server end on memory BIOs.
struct Server {
  Server() : ssl(SSL_new(contexts().server)) {
    SSL_set_bio(ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    SSL_set_accept_state(ssl);
  }
  ~Server() { SSL_free(ssl); }
  void receive(const unsigned char* data, size_t size) {
    BIO_write(SSL_get_rbio(ssl), data, static_cast<int>(size));
  }
  brelt::bytes take_output() {
    brelt::bytes out(BIO_ctrl_pending(SSL_get_wbio(ssl)));
    if (!out.empty()) BIO_read(SSL_get_wbio(ssl), out.data(), static_cast<int>(out.size()));
    return out;
  }
  // Decrypts whatever arrived; the count of plaintext bytes.
  size_t drain() {
    size_t total = 0;
    unsigned char buffer[kWrite];
    for (int n; (n = SSL_read(ssl, buffer, sizeof(buffer))) > 0;) total += static_cast<size_t>(n);
    return total;
  }
  SSL* ssl;
};

// Carries the filter's encrypted output to the server and the server's output back to the filter.
struct Wire : brelt::WritableStream<brelt::bytes>, brelt::ReadableStream<brelt::bytes> {
  explicit Wire(Server& server) : server(server) {}
  void _write(brelt::bytes&& chunk) override { server.receive(chunk.data(), chunk.size()); }
  void _end() override {}
  void deliver(brelt::bytes&& chunk) { _notify_data(std::move(chunk)); }
  Server& server;
};

void BM_TlsFilter(benchmark::State& state) {
  Server server;
  Wire wire(server);
  brelt::TlsFilter filter(nullptr, wire, wire, {brelt::HostnameValidator{"localhost"}}, "localhost",
                          std::chrono::milliseconds(0), contexts().client);
  filter.on_data = [](brelt::bytes) {};
  filter.start();
  while (filter.state() != brelt::TlsFilter::State::kEstablished) {
    SSL_do_handshake(server.ssl);
    brelt::bytes out = server.take_output();
    if (out.empty()) return state.SkipWithError("handshake stalled");
    wire.deliver(std::move(out));
  }
  SSL_do_handshake(server.ssl);
  const brelt::bytes payload(kWrite, 'p');
  for (auto _ : state) {
    size_t received = 0;
    for (size_t sent = 0; sent < kTotal; sent += kWrite) {
      filter.write(brelt::bytes(payload));
      received += server.drain();
    }
    if (received != kTotal) state.SkipWithError("lost plaintext");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_TlsFilter);

void BM_BareOpenSsl(benchmark::State& state) {
  Server server;
  SSL* client = SSL_new(contexts().client);
  SSL_set_bio(client, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_connect_state(client);
  auto pump_client = [&] {
    brelt::bytes out(BIO_ctrl_pending(SSL_get_wbio(client)));
    if (!out.empty()) BIO_read(SSL_get_wbio(client), out.data(), static_cast<int>(out.size()));
    server.receive(out.data(), out.size());
  };
  while (SSL_do_handshake(client) != 1) {
    pump_client();
    SSL_do_handshake(server.ssl);
    brelt::bytes back = server.take_output();
    BIO_write(SSL_get_rbio(client), back.data(), static_cast<int>(back.size()));
  }
  pump_client();
  SSL_do_handshake(server.ssl);
  const brelt::bytes payload(kWrite, 'p');
  for (auto _ : state) {
    size_t received = 0;
    for (size_t sent = 0; sent < kTotal; sent += kWrite) {
      brelt::bytes chunk(payload);  // the filter receives its own chunk too
      SSL_write(client, chunk.data(), static_cast<int>(chunk.size()));
      pump_client();
      received += server.drain();
    }
    if (received != kTotal) state.SkipWithError("lost plaintext");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
  SSL_free(client);
}
BENCHMARK(BM_BareOpenSsl);

}  // namespace

BENCHMARK_MAIN();
