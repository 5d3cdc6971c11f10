// What the host decides about the core before it exists: where the data lives, how the database
// is opened, who the device is and which servers to use. A plain value, filled once by the host
// and handed by value to the core facade, which passes each field to the components that need it.
#pragma once

#include <cstdint>
#include <string>

#include "core/api/server_env.h"

namespace libkestrun {

// The kind of device, as the servers know it. Other values may arrive from the host; they read as
// "none".
enum DeviceType : int32_t {
  DEVICE_TYPE_NONE = 0,
  DEVICE_TYPE_IOS = 1,
  DEVICE_TYPE_IPHONE = 2,
  DEVICE_TYPE_IPAD = 3,
  DEVICE_TYPE_ANDROID = 4,
  DEVICE_TYPE_MACOS = 5,
};

// The network state at start-up.
enum InternetConnectionType : int32_t {
  INTERNET_CONNECTION_NONE = 0,
  INTERNET_CONNECTION_CELLULAR = 1,
  INTERNET_CONNECTION_WIFI = 2,
};

// "ios", "iphone", "ipad", "android", "macos"; "none" for every other value.
std::string deviceTypeToString(DeviceType type);

// Where the protocol trace is posted when it is uploaded.
inline constexpr char kDefaultSanityDumpUrl[] = "https://diagnostics.kestrun.net/sanity/dump";
// Where the daily empty-inbox pictures live: "<date>.json" and "<date>.jpg" under this prefix.
inline constexpr char kDefaultZeroInboxBaseUrl[] = "https://media.kestrun.net:443/kestrun-zero-inbox/";

struct Config {
  ServerEnv server_env;
  std::string database_name;
  bool in_memory_database = false;  // a shared in-memory database instead of a file
  bool encrypt_database = true;     // key the database with the per-install key
  DeviceType device_type = DEVICE_TYPE_NONE;
  std::string bundle_id;
  std::string app_version;
  // The key-value store, the database file, the protocol trace, the empty-inbox picture and the
  // install marker; also used when the database is in memory.
  std::string data_directory;
  std::string resource_directory;  // root of the attachment and icon files
  InternetConnectionType connection_type = INTERNET_CONNECTION_NONE;
  // The diagnostics endpoint of the protocol trace (a multipart POST of the trace file).
  std::string sanity_dump_url = kDefaultSanityDumpUrl;
  // The base URL of the empty-inbox pictures (ends with "/").
  std::string zero_inbox_base_url = kDefaultZeroInboxBaseUrl;
};

}  // namespace libkestrun
