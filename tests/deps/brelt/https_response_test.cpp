#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "brelt/buffered_stream.h"
#include "brelt/http_response_stream.h"
#include "support/peak_resident.h"

namespace brelt {
namespace {

bytes to_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

// A parser chained into a body collector, as a request wires them, with what comes out recorded.
struct Chain {
  explicit Chain(size_t max_body = 0) : parser(max_body), body(max_body) {
    pipe(parser, body);
    parser.on_metadata = [this](HttpMetadata&& m) {
      metadata = std::move(m);
      events.push_back("metadata");
    };
    parser.on_read_error = [this](Error e) { events.push_back("error " + e.to_string()); };
    body.on_data = [this](bytes b) { events.push_back("body " + std::string(b.begin(), b.end())); };
    body.on_end = [this] { events.push_back("end"); };
  }

  // Feeds the text in pieces of `piece` bytes.
  void feed(const std::string& text, size_t piece) {
    for (size_t at = 0; at < text.size(); at += piece) {
      parser.write(to_bytes(text.substr(at, std::min(piece, text.size() - at))));
    }
  }

  HttpResponseStream parser;
  BufferedByteStream body;
  HttpMetadata metadata;
  std::vector<std::string> events;
};

// Also past an interim (1xx) response, which is not the answer and leaves nothing behind.
TEST(HttpResponseStreamTest, ResponseReadsTheSameInAnyPieces) {
  const std::string response =
      "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n"
      "HTTP/1.1 404 Not Found Here\r\nContent-Type: text/plain\r\nX-Long-Header-Name: a long value\r\n"
      "X-Twice: first\r\nX-Twice: second\r\nTransfer-Encoding: chunked\r\n\r\n"
      "4\r\nnot \r\n5\r\nfound\r\n0\r\n\r\n";
  for (size_t piece : {size_t{1}, size_t{3}, size_t{17}, response.size()}) {
    SCOPED_TRACE(piece);
    Chain chain;
    chain.feed(response, piece);
    EXPECT_EQ(chain.events, (std::vector<std::string>{"metadata", "body not found", "end"}));
    EXPECT_EQ(chain.metadata.http_major, 1);
    EXPECT_EQ(chain.metadata.http_minor, 1);
    EXPECT_EQ(chain.metadata.status_code, 404);
    EXPECT_EQ(chain.metadata.status_text, "Not Found Here");
    EXPECT_EQ(chain.metadata.headers,
              (std::unordered_map<std::string, std::string>{{"Content-Type", "text/plain"},
                                                            {"X-Long-Header-Name", "a long value"},
                                                            {"X-Twice", "second"},
                                                            {"Transfer-Encoding", "chunked"}}));
  }
}

TEST(HttpResponseStreamTest, EndOfInputCompletesOrFailsTheBody) {
  struct Case {
    const char* name;
    std::string response;
    std::vector<std::string> events;
  } cases[] = {
      {"body until the end", "HTTP/1.0 200 OK\r\n\r\nall of it", {"metadata", "body all of it", "end"}},
      {"no body", "HTTP/1.1 204 No Content\r\n\r\n", {"metadata", "body ", "end"}},
      {"cut short",
       "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
       {"metadata", "error HttpError::HPE_INVALID_EOF_STATE (11) stream ended at an unexpected time"}},
      {"nothing at all", "", {}},
  };
  for (const Case& c : cases) {
    Chain chain;
    chain.feed(c.response, 5);
    chain.parser.end();
    EXPECT_EQ(chain.events, c.events) << c.name;
  }
}

TEST(HttpResponseStreamTest, ParseErrorsAndOversizedBodiesStayInError) {
  Chain garbage;
  garbage.feed("SMTP 220 hello\r\n", 100);
  garbage.feed("HTTP/1.1 200 OK\r\n\r\n", 100);
  const std::string invalid = "error HttpError::HPE_INVALID_CONSTANT (28) invalid constant string";
  EXPECT_EQ(garbage.events, (std::vector<std::string>{invalid, invalid}));

  Chain oversized(8);
  oversized.feed("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n0123", 100);
  oversized.feed("456789ab", 100);
  oversized.feed("more", 100);
  const std::string too_large =
      "error HttpError::BODY_TOO_LARGE (0) the response body is longer than 8 bytes";
  EXPECT_EQ(oversized.events, (std::vector<std::string>{"metadata", too_large, too_large}));
}

// A chunked body of one-byte chunks makes the parser hand over one byte at a time; the body still
// takes about its own size in memory, once.
TEST(HttpResponseStreamTest, BodyOfOneByteChunksTakesItsOwnSizeInMemory) {
  if (!kestrun_test::kResidentSizeIsMeaningful) GTEST_SKIP() << "resident size is not meaningful here";
  const size_t body_size = 8u * 1024 * 1024;
  std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  response.reserve(body_size * 6 + 64);
  for (size_t i = 0; i < body_size; ++i) response += "1\r\nx\r\n";
  response += "0\r\n\r\n";

  HttpResponseStream parser(body_size);
  BufferedByteStream body(body_size);
  pipe(parser, body);
  size_t delivered = 0;
  body.on_data = [&](bytes b) { delivered = b.size(); };
  const size_t before = kestrun_test::peak_resident_bytes();
  for (size_t at = 0; at < response.size(); at += 65536) {
    parser.write(to_bytes(response.substr(at, 65536)));
  }
  EXPECT_EQ(delivered, body_size);
  EXPECT_LT(kestrun_test::peak_resident_bytes() - before, 4 * body_size);
}

// The collector's bound counts what it holds, so no growth step takes it past the limit.
TEST(HttpResponseStreamTest, BodyCollectorRefusesContentPastItsBound) {
  struct Case {
    std::vector<size_t> chunks;
    size_t bound;
    std::string outcome;
  } cases[] = {
      {{3, 3, 4}, 10, "body 10"},
      {{6, 5}, 10, "error UnknownError::BUFFER_LIMIT (11) the content would exceed 10 bytes"},
      {{11}, 10, "error UnknownError::BUFFER_LIMIT (11) the content would exceed 10 bytes"},
      {{1000, 24}, 0, "body 1024"},
  };
  for (const Case& c : cases) {
    BufferedByteStream body(c.bound);
    std::vector<std::string> events;
    body.on_data = [&](bytes b) {
      events.push_back("body " + std::to_string(b.size()));
      EXPECT_LE(b.capacity(), c.bound ? c.bound : b.capacity());
    };
    body.on_read_error = [&](Error e) { events.push_back("error " + e.to_string()); };
    for (size_t size : c.chunks) body.write(bytes(size, 'b'));
    body.end();
    EXPECT_EQ(events, std::vector<std::string>{c.outcome});
  }
}

}  // namespace
}  // namespace brelt
