#include "core/foundation/utility.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "support/pinned_zone.h"

namespace libkestrun {
namespace {

using kestrun_test::PinnedZone;

struct Wall {
  int year, month, day, hour, minute, second, millis;
};

// The instant of a wall-clock time in the current zone, in milliseconds since 1970.
int64_t instant_ms(const Wall& w) {
  struct tm t = {};
  t.tm_year = w.year - 1900;
  t.tm_mon = w.month - 1;
  t.tm_mday = w.day;
  t.tm_hour = w.hour;
  t.tm_min = w.minute;
  t.tm_sec = w.second;
  t.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&t)) * 1000 + w.millis;
}

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;

TEST(Utility, MsUntilTomorrowReachesTheFirstSecondOfTheNextLocalDay) {
  // US Eastern rules: clocks go forward on 2026-03-08 at 02:00 and back on 2026-11-01 at 02:00.
  const char* kEastern = "EST5EDT,M3.2.0,M11.1.0";
  // Clocks go forward at midnight, so 2026-10-18 begins at 01:00.
  const char* kMidnightShift = "BRT3BRST,M10.3.0/0,M2.3.0/0";
  struct Case {
    const char* zone;
    Wall now;
    int64_t expected;
  } cases[] = {
      {"UTC0", {2026, 5, 4, 7, 59, 59, 0}, 16 * kHour + 2 * kSecond},
      {"UTC0", {2026, 5, 4, 8, 0, 1, 0}, 16 * kHour},
      {"UTC0", {2026, 5, 4, 23, 59, 59, 0}, 2 * kSecond},
      {"UTC0", {2026, 5, 4, 0, 0, 0, 500}, 24 * kHour + kSecond - 500},
      {"UTC0", {2026, 12, 31, 12, 0, 0, 0}, 12 * kHour + kSecond},
      {"UTC0", {2028, 2, 28, 12, 0, 0, 0}, 12 * kHour + kSecond},
      {"CET-1", {2026, 5, 4, 23, 59, 59, 0}, 2 * kSecond},
      // The evening before a change: midnight still has today's offset.
      {kEastern, {2026, 3, 7, 20, 0, 0, 0}, 4 * kHour + kSecond},
      {kEastern, {2026, 10, 31, 20, 0, 0, 0}, 4 * kHour + kSecond},
      // The day of a change counts its real length, 23 and 25 hours.
      {kEastern, {2026, 3, 8, 0, 30, 0, 0}, 22 * kHour + 30 * kMinute + kSecond},
      {kEastern, {2026, 11, 1, 0, 30, 0, 0}, 24 * kHour + 30 * kMinute + kSecond},
      {kEastern, {2026, 11, 1, 7, 59, 59, 0}, 16 * kHour + 2 * kSecond},
      {kEastern, {2026, 11, 1, 8, 0, 1, 0}, 16 * kHour},
      {kMidnightShift, {2026, 10, 17, 23, 0, 0, 0}, kHour + kSecond},
  };
  for (const auto& c : cases) {
    PinnedZone zone(c.zone);
    const Wall& w = c.now;
    EXPECT_EQ(Utility::ms_until_tomorrow(instant_ms(w)), c.expected)
        << c.zone << " " << w.year << "-" << w.month << "-" << w.day << " " << w.hour << ":" << w.minute;
  }
}

TEST(Utility, ClockReadsTheSystemClock) {
  PinnedZone zone("UTC0");
  auto system_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  int64_t before = system_ms();
  int64_t now = Utility::now_ms();
  EXPECT_LE(before, now);
  EXPECT_LE(now, system_ms());

  int64_t until = Utility::ms_until_tomorrow();
  EXPECT_GT(until, 0);
  EXPECT_LE(until, 24 * kHour + kSecond);

  struct tm local = Utility::local_now();
  EXPECT_NEAR(static_cast<double>(mktime(&local)), static_cast<double>(time(nullptr)), 2.0);

  struct tm epoch = Utility::local_time(std::chrono::system_clock::time_point{});
  EXPECT_EQ(epoch.tm_year, 70);
  EXPECT_EQ(epoch.tm_yday, 0);
  EXPECT_EQ(epoch.tm_hour, 0);
  // Just before 1970 is still 1969, not rounded up to the epoch.
  struct tm before_epoch =
      Utility::local_time(std::chrono::system_clock::time_point{} - std::chrono::milliseconds(1));
  EXPECT_EQ(before_epoch.tm_year, 69);
  EXPECT_EQ(before_epoch.tm_sec, 59);
}

TEST(Utility, TrimAndCollapse) {
  struct Case {
    std::string text, chars, trimmed, left, right;
  } cases[] = {
      {"  a b \t", " \t", "a b", "a b \t", "  a b"},
      {" \t \t", " \t", "", "", ""},
      {" \t ", "", " \t ", " \t ", " \t "},
      {"", " ", "", "", ""},
      {"xxaxx", "x", "a", "axx", "xxa"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utility::trim(c.text, c.chars), c.trimmed) << c.text;
    EXPECT_EQ(Utility::trim_left(c.text, c.chars), c.left) << c.text;
    EXPECT_EQ(Utility::trim_right(c.text, c.chars), c.right) << c.text;
  }
  EXPECT_EQ(Utility::collapse_spaces("a   b \t  c  "), "a b \t c ");
  EXPECT_EQ(Utility::collapse_spaces(""), "");
}

TEST(Utility, DeltaDecodeAccumulatesModulo65536) {
  EXPECT_TRUE(Utility::delta_decode({}, 7).empty());
  EXPECT_EQ(Utility::delta_decode({1, 1, 0x00FE}, 0x41), (std::vector<unsigned char>{0x42, 0x43, 0x41}));
  // 0xFFF0 + 0x20 wraps to 0x0010; only the low 16 bits of the seed count.
  EXPECT_EQ(Utility::delta_decode({0x0010, 0x0020, 0xFFFF}, 0x1FFE0),
            (std::vector<unsigned char>{0xF0, 0x10, 0x0F}));
  EXPECT_EQ(Utility::delta_decode({0x0100}, -1), (std::vector<unsigned char>{0xFF}));
}

std::vector<unsigned char> from_hex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<unsigned char> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// Ciphertexts made with:
//   printf '<plaintext>' | openssl enc -aes-256-cbc -K <kKey> -iv <kIv> | xxd -p
const auto kKey = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const auto kIv = from_hex("f0e0d0c0b0a090807060504030201000");
const auto kSentence = from_hex(
    "0fec883eefebfaaf759e3e62d42b76deba7b053180d63094a7e2017b2cbbfd7d4bc974c7e6e57d70abde50d2cb91f8a1"
    "176d180eba860c18b9c8200bfdeeca2a");

TEST(Utility, Aes256CbcDecryptAgreesWithOpensslEnc) {
  EXPECT_EQ(Utility::aes256_cbc_decrypt(kKey, kIv, kSentence),
            bytes_of("Kestrun keeps one connection to its sync server."));
  EXPECT_EQ(Utility::aes256_cbc_decrypt(
                kKey, kIv, from_hex("7b952d280fd0c23b9bd35ae7a3dcf6f718475d53e325bde25fafba109d6526d9")),
            bytes_of("exactly sixteen!"));
  EXPECT_TRUE(Utility::aes256_cbc_decrypt(kKey, kIv, from_hex("6dc2fa6c9d4838492909dcf4dd499097")).empty());
}

TEST(Utility, Aes256CbcDecryptFailureYieldsNothing) {
  auto wrong_key = kKey;
  wrong_key[0] ^= 1;
  std::vector<unsigned char> truncated(kSentence.begin(), kSentence.begin() + 47);
  // Ends on a block of the message, whose last byte is no valid padding.
  std::vector<unsigned char> short_tail(kSentence.begin(), kSentence.begin() + 48);
  struct Case {
    const char* name;
    std::vector<unsigned char> key, iv, ciphertext;
  } cases[] = {
      {"wrong key", wrong_key, kIv, kSentence},
      {"length not a multiple of 16", kKey, kIv, truncated},
      {"bad padding", kKey, kIv, short_tail},
      {"short key", std::vector<unsigned char>(kKey.begin(), kKey.begin() + 16), kIv, kSentence},
      {"short iv", kKey, std::vector<unsigned char>(kIv.begin(), kIv.begin() + 8), kSentence},
      {"empty ciphertext", kKey, kIv, {}},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Utility::aes256_cbc_decrypt(c.key, c.iv, c.ciphertext).empty()) << c.name;
  }
}

}  // namespace
}  // namespace libkestrun
