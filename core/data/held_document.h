// A jansson document kept alive by a queued task: one reference, shared by the copies of the
// closure and released with the last of them, whichever thread drops it.
#pragma once

#include <jansson.h>

#include <memory>

namespace libkestrun {

inline std::shared_ptr<json_t> hold_document(json_t* document) {
  return std::shared_ptr<json_t>(json_incref(document), [](json_t* value) { json_decref(value); });
}

}  // namespace libkestrun
