// Parsing one chunked HTTPS response of 1 MiB and collecting its body: our parser stage chained
// into the body collector, against http-parser driven directly with the body appended to a vector.
#include <benchmark/benchmark.h>
#include <http_parser.h>

#include <string>
#include <vector>

#include "brelt/buffered_stream.h"
#include "brelt/http_response_stream.h"

namespace {

constexpr size_t kBodySize = 1 << 20;
constexpr size_t kBodyChunk = 4096;
constexpr size_t kReadSize = 16384;  // what one TLS read delivers at most

std::vector<brelt::bytes> response_reads() {
  std::string text =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nX-Request: 1\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  char size_line[16];
  snprintf(size_line, sizeof(size_line), "%zx\r\n", kBodyChunk);
  for (size_t sent = 0; sent < kBodySize; sent += kBodyChunk) {
    text += size_line;
    text.append(kBodyChunk, static_cast<char>('a' + sent % 26));
    text += "\r\n";
  }
  text += "0\r\n\r\n";
  std::vector<brelt::bytes> reads;
  for (size_t at = 0; at < text.size(); at += kReadSize) {
    size_t n = std::min(kReadSize, text.size() - at);
    reads.emplace_back(text.begin() + static_cast<long>(at), text.begin() + static_cast<long>(at + n));
  }
  return reads;
}

void BM_ResponseStream(benchmark::State& state) {
  const std::vector<brelt::bytes> reads = response_reads();
  for (auto _ : state) {
    brelt::HttpResponseStream parser(32 << 20);
    brelt::BufferedByteStream body;
    brelt::pipe(parser, body);
    brelt::HttpMetadata metadata;
    parser.on_metadata = [&](brelt::HttpMetadata&& m) { metadata = std::move(m); };
    size_t delivered = 0;
    body.on_data = [&](brelt::bytes b) { delivered = b.size(); };
    for (const brelt::bytes& read : reads) parser.write(brelt::bytes(read));
    if (delivered != kBodySize || metadata.status_code != 200) state.SkipWithError("wrong body");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}
BENCHMARK(BM_ResponseStream);

struct Bare {
  std::vector<unsigned char> body;
  bool complete = false;
};

void BM_BareHttpParser(benchmark::State& state) {
  const std::vector<brelt::bytes> reads = response_reads();
  http_parser_settings settings;
  http_parser_settings_init(&settings);
  settings.on_body = [](http_parser* p, const char* at, size_t length) {
    auto* bare = static_cast<Bare*>(p->data);
    bare->body.insert(bare->body.end(), at, at + length);
    return 0;
  };
  settings.on_message_complete = [](http_parser* p) {
    static_cast<Bare*>(p->data)->complete = true;
    return 0;
  };
  for (auto _ : state) {
    Bare bare;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &bare;
    for (const brelt::bytes& read : reads) {
      brelt::bytes copy(read);  // a stream stage receives its own chunk too
      http_parser_execute(&parser, &settings, reinterpret_cast<const char*>(copy.data()), copy.size());
    }
    if (!bare.complete || bare.body.size() != kBodySize) state.SkipWithError("wrong body");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}
BENCHMARK(BM_BareHttpParser);

}  // namespace

BENCHMARK_MAIN();
