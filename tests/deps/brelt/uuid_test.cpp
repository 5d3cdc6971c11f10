#include "brelt/uuid.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace brelt {
namespace {

TEST(Uuid, KnownBytesGiveTheVersionFourLayout) {
  struct Case {
    std::string bytes;
    bool upper;
    std::string text;
  };
  const Case cases[] = {
      {std::string(16, '\x00'), true, "00000000-0000-4000-8000-000000000000"},
      {std::string(16, '\xFF'), true, "FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF"},
      {std::string(16, '\xFF'), false, "ffffffff-ffff-4fff-bfff-ffffffffffff"},
      {"\x01\x23\x45\x67\x89\xAB\xCD\xEF\x01\x23\x45\x67\x89\xAB\xCD\xEF", false,
       "01234567-89ab-4def-8123-456789abcdef"},
  };
  for (const auto& c : cases) EXPECT_EQ(uuid_from_bytes(c.bytes, c.upper), c.text);
}

TEST(Uuid, GeneratedTextHasTheLayoutAndCaseOfItsForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    for (bool upper : {true, false}) {
      std::string id = upper ? generate_uuid_upper() : generate_uuid_lower();
      ASSERT_EQ(id.size(), 36u);
      for (size_t pos : {8, 13, 18, 23}) EXPECT_EQ(id[pos], '-') << id;
      EXPECT_EQ(id[14], '4') << id;
      const std::string variants = upper ? "89AB" : "89ab";
      EXPECT_NE(variants.find(id[19]), std::string::npos) << id;
      for (char c : id) {
        EXPECT_TRUE(c == '-' || std::isxdigit(static_cast<unsigned char>(c))) << id;
        EXPECT_FALSE(upper ? std::islower(static_cast<unsigned char>(c))
                           : std::isupper(static_cast<unsigned char>(c)))
            << id;
      }
      seen.insert(id);
    }
  }
  EXPECT_EQ(seen.size(), 400u);  // random bytes: no repeats
}

}  // namespace
}  // namespace brelt
