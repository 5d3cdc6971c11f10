#include "brelt/streams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brelt/error.h"

namespace brelt {
namespace {

TEST(Error, TextFormNamesCodeTagNumberAndMessage) {
  struct Case {
    Error error;
    std::string text;
  };
  const std::vector<Case> cases = {
      {Error(ErrorCode::PacketSigningError, 0, "T"),
       "PacketSigningError::T (0) an unknown error has occured"},
      {TlsError(1, "SSL_ERROR_SSL", "bad"), "TlsError::SSL_ERROR_SSL (1) bad"},
      {NetworkError(-111, "ECONNREFUSED", "connection refused"),
       "NetworkError::ECONNREFUSED (-111) connection refused"},
      {DnsError(-3008, "EAI_NONAME", "unknown node or service"),
       "DnsError::EAI_NONAME (-3008) unknown node or service"},
      {HttpError(5, std::string("HPE_X"), std::string("x")), "HttpError::HPE_X (5) x"},
      {Error(ErrorCode::UnknownError, 7, "U", "u"), "UnknownError::U (7) u"},
      {CompressionError(-3, "Z_DATA_ERROR"),
       "CompressionError::Z_DATA_ERROR (-3) an unknown error has occured"},
      {Error(ErrorCode::DecompressionError, 0, "D", ""), "DecompressionError::D (0) "},
      {CertError(10L, std::string("X509_V_ERR_CERT_HAS_EXPIRED"), "expired"),
       "CertError::X509_V_ERR_CERT_HAS_EXPIRED (10) expired"},
      {JsonError(0, "JSON_DECODE_ERROR", std::string("unexpected end")),
       "JsonError::JSON_DECODE_ERROR (0) unexpected end"},
      {Error(static_cast<ErrorCode>(42), 1, "odd", "m"), "::odd (1) m"},
      {Error(static_cast<ErrorCode>(-1), 1, "neg", "m"), "::neg (1) m"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.to_string(), c.text);
}

TEST(Error, TypedErrorReachesPlainErrorCallbackWhole) {
  std::function<void(Error)> callback;
  std::vector<Error> seen;
  callback = [&](Error e) { seen.push_back(e); };
  callback(CompressionError(-4, "Z_MEM_ERROR"));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, ErrorCode::CompressionError);
  EXPECT_EQ(seen[0].number, -4);
  EXPECT_EQ(seen[0].tag, "Z_MEM_ERROR");
  EXPECT_EQ(seen[0].message, Error::kDefaultMessage);
}

// A filter that passes strings through and reports what reached its own side.
class Passthrough : public WritableStream<std::string>, public ReadableStream<std::string> {
 public:
  using ReadableStream::_notify_read_error;
  using WritableStream::_notify_write_error;

  std::vector<std::string> written;
  int ends = 0;

 protected:
  void _write(std::string&& value) override {
    written.push_back(value);
    _notify_data(std::move(value));
  }
  void _end() override {
    ++ends;
    _notify_end();
  }
};

TEST(Streams, WriteAfterEndAndDoubleEndAreLoggedAndIgnored) {
  Passthrough stream;
  stream.on_data = [](std::string) {};
  testing::internal::CaptureStdout();
  stream.write("a");
  stream.end();
  stream.write("b");
  stream.write("c");
  stream.end();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(stream.written, std::vector<std::string>{"a"});
  EXPECT_EQ(stream.ends, 1);
  EXPECT_TRUE(stream.ended);
  EXPECT_EQ(out,
            "brelt::Stream: usage error: write after end\n"
            "brelt::Stream: usage error: write after end\n"
            "brelt::Stream: usage error: double end on stream\n");
}

TEST(Streams, DataWithoutListenerIsDroppedWithOneLineEach) {
  Passthrough stream;
  testing::internal::CaptureStdout();
  stream.write("a");
  stream.write("b");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "brelt::Stream: usage error: not observing data notifications\n"
            "brelt::Stream: usage error: not observing data notifications\n");
}

TEST(Streams, UncaughtErrorsAreLoggedCaughtOnesAreNot) {
  Passthrough stream;
  testing::internal::CaptureStderr();
  stream._notify_write_error(NetworkError(-32, "EPIPE", "broken pipe"));
  stream._notify_read_error(JsonError(0, "JSON_DECODE_ERROR", "bad"));
  std::vector<Error> caught;
  stream.on_write_error = [&](Error e) { caught.push_back(e); };
  stream.on_read_error = [&](Error e) { caught.push_back(e); };
  stream._notify_write_error(NetworkError(-32, "EPIPE", "broken pipe"));
  stream._notify_read_error(JsonError(0, "JSON_DECODE_ERROR", "bad"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brelt::Stream: uncaught write error, NetworkError::EPIPE (-32) broken pipe\n"
            "brelt::Stream: uncaught read error: JsonError::JSON_DECODE_ERROR (0) bad\n");
  EXPECT_EQ(caught.size(), 2u);
}

TEST(Streams, PipeCarriesValuesAndEndThroughAChain) {
  Passthrough first, second;
  pipe(first, second);
  std::vector<std::string> out;
  bool ended = false;
  second.on_data = [&](std::string s) { out.push_back(s); };
  second.on_end = [&] { ended = true; };
  first.write("x");
  first.write("y");
  first.end();
  EXPECT_EQ(out, (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(ended);
  EXPECT_TRUE(second.ended);
}

// A connection that echoes what is written once connected; counts its destruction so the test can
// see that ownership through the factory's interface destroys the whole object.
class Echo : public DuplexConnectStream<std::string, std::string> {
 public:
  explicit Echo(int& destroyed) : destroyed_(destroyed) {}
  ~Echo() override { ++destroyed_; }
  void connect() override {
    if (on_connect) on_connect();
  }

 protected:
  void _write(std::string&& value) override { _notify_data(std::move(value)); }
  void _end() override { _notify_end(); }

 private:
  int& destroyed_;
};

class EchoFactory : public DuplexConnectStreamFactory<std::string, std::string> {
 public:
  explicit EchoFactory(int& destroyed) : destroyed_(destroyed) {}
  std::unique_ptr<DuplexConnectStream<std::string, std::string>> create() override {
    return std::make_unique<Echo>(destroyed_);
  }

 private:
  int& destroyed_;
};

TEST(Streams, ConnectionStreamsAreOwnedThroughTheDuplexType) {
  int destroyed = 0;
  std::unique_ptr<DuplexConnectStreamFactory<std::string, std::string>> factory =
      std::make_unique<EchoFactory>(destroyed);
  {
    auto stream = factory->create();
    std::vector<std::string> out;
    bool connected = false;
    stream->on_connect = [&] { connected = true; };
    stream->on_data = [&](std::string s) { out.push_back(s); };
    stream->connect();
    stream->write("hello");
    EXPECT_TRUE(connected);
    EXPECT_EQ(out, std::vector<std::string>{"hello"});
  }
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace brelt
