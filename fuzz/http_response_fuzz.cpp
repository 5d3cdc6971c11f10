// Any bytes as an HTTPS response, in chunks of any size, through the response parser and the body
// collector as a request wires them. Nothing may crash, the body never exceeds its bound, the
// head comes at most once and before any body, and nothing follows an error.
//
// Input: pairs of (chunk length byte, chunk) until the data runs out; then the end of input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "brelt/buffered_stream.h"
#include "brelt/http_response_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kMaxBody = 64 * 1024;
  FuzzedDataProvider input(data, size);
  brelt::HttpResponseStream parser(kMaxBody);
  brelt::BufferedByteStream body(kMaxBody);
  brelt::pipe(parser, body);
  int heads = 0;
  bool delivered = false;
  bool failed = false;
  parser.on_metadata = [&](brelt::HttpMetadata&& metadata) {
    // The parser takes a code of one to three digits ("HTTP/1.0 20 OK" gives 20); the caller
    // judges it by value, so only the range of three digits is certain.
    if (delivered || metadata.status_code < 0 || metadata.status_code > 999) std::abort();
    ++heads;
  };
  parser.on_read_error = [&](brelt::Error) { failed = true; };
  body.on_read_error = [&](brelt::Error) { failed = true; };
  body.on_data = [&](brelt::bytes collected) {
    if (delivered || collected.size() > kMaxBody || collected.capacity() > kMaxBody) std::abort();
    delivered = true;
  };
  while (input.remaining_bytes() > 0) {
    size_t length = input.ConsumeIntegralInRange<size_t>(0, 255);
    std::vector<unsigned char> chunk = input.ConsumeBytes<unsigned char>(length);
    parser.write(std::move(chunk));
  }
  if (!parser.ended) parser.end();
  if (heads > 1 && !failed) std::abort();  // a second response on one connection is not read
  return 0;
}
