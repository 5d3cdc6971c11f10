#include "core/services/object_signer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <string>

namespace libkestrun {
namespace {

using jsonette::Json;

Json parse(const std::string& text) {
  std::string error;
  Json value = Json::parse(text, error);
  EXPECT_TRUE(error.empty()) << text;
  return value;
}

TEST(ObjectSignerTest, CanonicalText) {
  const struct {
    Json value;
    std::string text;
  } cases[] = {
      {Json::object{{"user_id", "u1"},
                    {"account_id", "a1"},
                    {"n", 12.7},
                    {"ok", true},
                    {"list", Json::array{"x", "y"}}},
       "account_id:a1,list:x,y,n:12,ok:1,user_id:u1"},
      {parse("[1, [2, 3]]"), "1,2,3"},
      {parse("[1, 2, 3]"), "1,2,3"},
      {nullptr, "null"},
      {"null", "null"},
      {-2.9, "-2"},
      {2.9, "2"},
      {0.5, "0"},
      {-0.5, "0"},
      {7.0, "7"},
      {parse("1e3"), "1000"},
      {parse("-9007199254740993"), "-9007199254740993"},
      {true, "1"},
      {false, "0"},
      {Json::object{}, ""},
      {Json::array{}, ""},
      // Values are not escaped: these two objects sign alike.
      {Json::object{{"a", "b,c:d"}}, "a:b,c:d"},
      {Json::object{{"a", "b"}, {"c", "d"}}, "a:b,c:d"},
      // Byte order of keys: upper case first.
      {Json::object{{"a", 1}, {"Z", 2}}, "Z:2,a:1"},
      {Json::object{{"user_id", "u"},
                    {"email_id", "e"},
                    {"device_secret", "s"},
                    {"device_id", "d"},
                    {"account_id", "a"}},
       "account_id:a,device_id:d,device_secret:s,email_id:e,user_id:u"},
      {Json::object{{"o", Json::object{{"b", 1}, {"a", Json::array{nullptr, "q"}}}}}, "o:a:null,q,b:1"},
      {Json(std::string("bytes\0with nul", 14)), std::string("bytes\0with nul", 14)},
  };
  for (const auto& c : cases) EXPECT_EQ(ObjectSigner::canonicalText(c.value), c.text) << c.value.dump();
}

std::string opensslMd5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr), 1);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

TEST(ObjectSignerTest, DigestIsMd5OfKeyTextAndNonce) {
  int64_t now = 1700000000123;
  const std::string key(
      "k\0\xff"
      "ey",
      5);  // any bytes, a zero byte included
  ObjectSigner signer(key, [&] { return now; });
  const Json fields = Json::object{{"email_id", "E1"}, {"user_id", "u1"}, {"filesize", 42}};

  auto [nonce, digest] = signer.sign(fields);
  EXPECT_EQ(nonce, "1700000000123");
  EXPECT_EQ(digest, opensslMd5Hex(key + "email_id:E1,filesize:42,user_id:u1" + "1700000000123"));
  EXPECT_EQ(signer.sign(fields), std::make_pair(nonce, digest));  // same millisecond, same pair

  now += 1;
  auto [later_nonce, later_digest] = signer.sign(fields);
  EXPECT_EQ(later_nonce, "1700000000124");
  EXPECT_NE(later_digest, digest);

  ObjectSigner keyless(std::vector<uint8_t>{}, [&] { return now; });
  EXPECT_EQ(keyless.sign(fields).second, opensslMd5Hex("email_id:E1,filesize:42,user_id:u1" + later_nonce));
}

}  // namespace
}  // namespace libkestrun
