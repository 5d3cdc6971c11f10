#include "core/api/config.h"

#include <gtest/gtest.h>

#include <string>

#include "core/api/overrides.h"
#include "core/api/server_env.h"

namespace libkestrun {
namespace {

TEST(DeviceTypeTest, NamesEveryValueAndNoneOutsideTheKnownRange) {
  const struct {
    int32_t type;
    const char* text;
  } cases[] = {{0, "none"},    {1, "ios"},   {2, "iphone"}, {3, "ipad"},
               {4, "android"}, {5, "macos"}, {6, "none"},   {-1, "none"}};
  for (const auto& c : cases) {
    EXPECT_EQ(deviceTypeToString(static_cast<DeviceType>(c.type)), c.text) << c.type;
  }
}

TEST(ServerEnvTest, CopyUrlsCopiesTheSixUrlsInFieldOrder) {
  ServerEnv env{
      "sync.example",           "443",         "https://a/attachment", "https://a/body", "https://a/text",
      "https://bucket/objects", "https://a/s", "https://a/upload",     {1, 2, 3},        {}};
  ServerUrls urls;
  urls.upload_url = "stale";
  env.copy_urls(urls);
  EXPECT_EQ(urls.attachment_download_url, "https://a/attachment");
  EXPECT_EQ(urls.body_url, "https://a/body");
  EXPECT_EQ(urls.text_body_url, "https://a/text");
  EXPECT_EQ(urls.object_download_url, "https://bucket/objects");
  EXPECT_EQ(urls.shared_link_url, "https://a/s");
  EXPECT_EQ(urls.upload_url, "https://a/upload");
}

TEST(ConfigTest, DefaultsLeaveOverridesEmptyAndPointTheTraceAtTheDiagnosticsHost) {
  Config config;
  EXPECT_FALSE(config.in_memory_database);
  EXPECT_TRUE(config.encrypt_database);
  EXPECT_EQ(config.sanity_dump_url.rfind("https://", 0), 0u);
  EXPECT_NE(config.sanity_dump_url.find("/sanity/dump"), std::string::npos);
  // The day's files are appended to the pictures' base: it is an HTTPS prefix ending with "/".
  EXPECT_EQ(config.zero_inbox_base_url, "https://media.kestrun.net:443/kestrun-zero-inbox/");
  Overrides overrides;
  EXPECT_FALSE(overrides.file_utility || overrides.date_utility || overrides.task_manager ||
               overrides.kv_store);
}

}  // namespace
}  // namespace libkestrun
