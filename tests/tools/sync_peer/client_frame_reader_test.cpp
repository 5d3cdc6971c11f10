// The test peer's and the sync server's reader of client frames, on bytes made by hand.
#include "tools/sync_peer/client_frame_reader.h"

#include <gtest/gtest.h>

namespace sync_peer {
namespace {

const std::vector<unsigned char> kKey = {'k', 'e', 'y'};

std::vector<unsigned char> frame(const std::string& text, const std::vector<unsigned char>& key = kKey) {
  std::vector<unsigned char> signature = hmac_sha256(key, text);
  uint32_t length = static_cast<uint32_t>(4 + text.size() + signature.size());
  std::vector<unsigned char> bytes;
  bytes.reserve(length);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(length >> (8 * i)));
  for (char c : text) bytes.push_back(static_cast<unsigned char>(c));
  for (unsigned char c : signature) bytes.push_back(c);
  return bytes;
}

TEST(ClientFrameReaderTest, FramesAreSplitCheckedAndBoundedByTheLimit) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    uint32_t limit;
    size_t frames;
    bool hmac_ok;
    bool json_ok;
    bool error;
  };
  std::vector<unsigned char> two = frame("{\"a\":1}");
  std::vector<unsigned char> second = frame("[2]");
  two.insert(two.end(), second.begin(), second.end());
  const std::vector<Case> cases = {
      {"one good frame", frame("{\"method\":\"ping\"}"), UINT32_MAX, 1, true, true, false},
      {"two frames in one read", two, UINT32_MAX, 2, true, true, false},
      {"another key", frame("{}", {'x'}), UINT32_MAX, 1, false, true, false},
      {"not JSON", frame("{oops"), UINT32_MAX, 1, true, false, false},
      {"an integer beyond 64 bits", frame("{\"before\":9223372036854775808}"), UINT32_MAX, 1, true, true,
       false},
      {"length below a signature", {10, 0, 0, 0, 1, 2, 3, 4, 5, 6}, UINT32_MAX, 0, false, false, true},
      {"length at the limit", frame("{}"), 4 + 2 + 32, 1, true, true, false},
      {"length above the limit", frame("{}"), 4 + 2 + 31, 0, false, false, true},
      {"huge length, few bytes", {0xff, 0xff, 0xff, 0xff, 1}, 64u << 20, 0, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientFrameReader reader(kKey, c.limit);
    std::vector<ClientFrame> frames = reader.feed(c.bytes.data(), c.bytes.size());
    ASSERT_EQ(frames.size(), c.frames);
    for (const ClientFrame& f : frames) {
      EXPECT_EQ(f.hmac_ok, c.hmac_ok);
      EXPECT_EQ(f.json_ok, c.json_ok);
    }
    EXPECT_EQ(!reader.error().empty(), c.error) << reader.error();
  }
}

TEST(ClientFrameReaderTest, AFrameArrivingByteByByteIsReadOnce) {
  std::vector<unsigned char> bytes = frame("{\"method\":\"ping\"}");
  ClientFrameReader reader(kKey);
  size_t seen = 0;
  for (unsigned char byte : bytes) seen += reader.feed(&byte, 1).size();
  EXPECT_EQ(seen, 1u);
  EXPECT_EQ(reader.error(), "");
}

}  // namespace
}  // namespace sync_peer
