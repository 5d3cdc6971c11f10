#include "core/api/config.h"

namespace libkestrun {

std::string deviceTypeToString(DeviceType type) {
  switch (type) {
    case DEVICE_TYPE_IOS:
      return "ios";
    case DEVICE_TYPE_IPHONE:
      return "iphone";
    case DEVICE_TYPE_IPAD:
      return "ipad";
    case DEVICE_TYPE_ANDROID:
      return "android";
    case DEVICE_TYPE_MACOS:
      return "macos";
    case DEVICE_TYPE_NONE:
      break;
  }
  return "none";
}

}  // namespace libkestrun
