// The framing stages over a real socket, against the scripted peer: what the peer decodes with its
// own code, and what the client makes of the peer's scripted output.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "brelt/inflate_stream.h"
#include "brelt/json_decode_stream.h"
#include "brelt/json_encode_stream.h"
#include "brelt/length_decoder.h"
#include "brelt/length_encoder.h"
#include "brelt/signing_stream.h"
#include "brelt/socket.h"
#include "brelt/uv_thread.h"
#include "support/wait.h"
#include "tools/sync_peer/scripted_peer.h"
#include "tools/sync_peer/tcp_transport.h"

namespace brelt {
namespace {

using jsonette::Json;
using sync_peer::ServerWrite;

const std::string kKey = "wire-test-key";

// The client's chains around a plain socket; lives and dies on the loop thread.
struct Connection {
  Connection(uv_loop_t* loop, uint16_t port)
      : socket(loop, "127.0.0.1", std::to_string(port)), sign(SigningStream::kSha256, kKey) {
    pipe(encode, sign);
    pipe(sign, length_out);
    pipe(length_out, socket);
    pipe(socket, inflate);
    pipe(inflate, length_in);
    pipe(length_in, decode);
    decode.on_data = [this](Json v) { events.push_back(v.dump()); };
    decode.on_end = [this] { events.push_back("end"); };
    auto error = [this](Error e) { events.push_back(e.tag); };
    socket.on_read_error = socket.on_write_error = error;
    inflate.on_read_error = inflate.on_write_error = error;
    length_in.on_read_error = error;
    decode.on_read_error = error;
  }
  Socket socket;
  JsonEncodeStream encode;
  SigningStream sign;
  LengthEncoder length_out;
  InflateStream inflate;
  LengthDecoder length_in;
  JsonDecodeStream decode;
  std::vector<std::string> events;
};

class WireTest : public testing::Test {
 protected:
  void SetUp() override {
    thread_.post_sync([&] {
      connection_ = std::make_unique<Connection>(thread_.get_loop(), peer_.port());
      connection_->socket.connect();
    });
    ASSERT_TRUE(peer_.wait_for_connection());
  }
  void TearDown() override {
    thread_.post_sync([&] { connection_.reset(); });
  }
  std::vector<std::string> events() {
    std::vector<std::string> out;
    thread_.post_sync([&] { out = connection_->events; });
    return out;
  }
  bool wait_for_events(const std::vector<std::string>& expected) {
    return kestrun_test::wait_until([&] { return events().size() >= expected.size(); }) &&
           events() == expected;
  }

  sync_peer::ScriptedPeer peer_{std::make_unique<sync_peer::TcpListener>(),
                                std::vector<unsigned char>(kKey.begin(), kKey.end())};
  UvThread thread_{true};
  std::unique_ptr<Connection> connection_;
};

TEST_F(WireTest, PeerDecodesSignedFramesInOrder) {
  thread_.post_sync([&] {
    connection_->encode.write(Json(Json::object{{"device", "macos"}, {"version", "1.0"}}));
    connection_->encode.write(Json(Json::object{{"method", "ping"}}));
  });
  ASSERT_TRUE(peer_.wait_for_frames(2));
  auto frames = peer_.frames();
  EXPECT_EQ(frames[0].text, "{\"device\":\"macos\",\"version\":\"1.0\"}");
  EXPECT_EQ(frames[1].text, "{\"method\":\"ping\"}");
  for (const auto& f : frames) EXPECT_TRUE(f.hmac_ok && f.json_ok);
  EXPECT_EQ(peer_.protocol_error(), "");
}

TEST_F(WireTest, ScriptedServerOutputIsDecodedWhateverItsSplits) {
  ServerWrite first;
  first.frames = {"{\"a\":1}", "[\"" + std::string(5000, 'b') + "\"]"};
  first.split_at = {1, 2, 3, 50, 51};
  ASSERT_TRUE(peer_.send(first));
  ServerWrite last;
  last.frames = {"{\"c\":3}"};
  last.flush = ServerWrite::Flush::kFinish;
  ASSERT_TRUE(peer_.send(last));
  EXPECT_TRUE(wait_for_events({"{\"a\":1}", "[\"" + std::string(5000, 'b') + "\"]", "{\"c\":3}", "end"}));
}

TEST_F(WireTest, CorruptByteGivesTheInflateError) {
  ServerWrite write;
  write.frames = {"{\"a\":1}"};
  write.corrupt_at = 0;
  ASSERT_TRUE(peer_.send(write));
  EXPECT_TRUE(wait_for_events({"Z_DATA_ERROR"}));
}

// A close before the end of the compressed stream may have cut off anything: it is an error, not an
// end, whatever the place of the cut.
TEST_F(WireTest, CloseMidStreamDeliversWholeFramesThenATruncationError) {
  ServerWrite whole;
  whole.frames = {"{\"a\":1}"};
  ASSERT_TRUE(peer_.send(whole));
  ASSERT_TRUE(wait_for_events({"{\"a\":1}"}));
  ServerWrite cut;
  cut.frames = {"{\"b\":\"" + std::string(100, 'x') + "\"}"};
  cut.close_after = 10;
  ASSERT_TRUE(peer_.send(cut));
  EXPECT_TRUE(wait_for_events({"{\"a\":1}", "TRUNCATED"}));
}

}  // namespace
}  // namespace brelt
