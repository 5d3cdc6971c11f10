// One fetch of the day's empty-inbox picture: two HTTPS GETs on the core thread's loop, run at
// the same time, for "<base URL><date>.json" (the description: an object with the strings
// "showDate", "uri" and "mediaID") and "<base URL><date>.jpg" (the image).
//
// The completion is called exactly once: with nothing at the first failure (an error of either
// GET, a status other than 200, a description that is not such an object), or with the whole
// picture once both answers succeeded, in whichever order they came. The picture's showDate is the
// request's own date, whatever the description says.
//
// Threads: built, run and destroyed on the core thread; the completion runs there, inside a GET's
// handler, so it must not destroy the request itself. Destroying the request cancels both GETs;
// nothing is called after that.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brelt/https_request.h"
#include "brelt/uv_thread.h"
#include "jsonette/json.h"

struct ZeroInboxData {
  std::string showDate;              // the day the picture belongs to, as zero_inbox_date_string gives it
  std::string uri;                   // the picture's source link
  std::string mediaID;               // the picture's id at its source
  std::vector<unsigned char> bytes;  // the image file as served; never in JSON

  // {"mediaID", "showDate", "uri"}.
  jsonette::Json to_json() const;
  // Nothing unless the value is present and carries the three members as strings; other members
  // are ignored.
  static std::optional<ZeroInboxData> from_json(const std::optional<jsonette::Json>& json);
};

namespace libkestrun {

// The local calendar date of `now_ms` (milliseconds since 1970) as month-day-year without leading
// zeros: 7 March 2015 is "3-7-2015".
std::string zero_inbox_date_string(int64_t now_ms);
// The same for now.
std::string zero_inbox_date_string();

class ZeroInboxRequest {
 public:
  using Completion = std::function<void(std::optional<ZeroInboxData>)>;

  // Starts both GETs for `date` under `base_url` (which ends with "/").
  ZeroInboxRequest(brelt::UvThread& thread, const std::string& base_url, std::string date,
                   Completion completion);
  ~ZeroInboxRequest();
  ZeroInboxRequest(const ZeroInboxRequest&) = delete;
  ZeroInboxRequest& operator=(const ZeroInboxRequest&) = delete;

  const std::string& date() const { return date_; }

 private:
  void _on_description(const brelt::HttpMetadata& metadata, const std::vector<unsigned char>& body);
  void _on_image(const brelt::HttpMetadata& metadata, std::vector<unsigned char> body);
  // The completion with nothing, unless it was called.
  void _fail();
  // The completion with the picture, once both answers are in.
  void _finish_if_whole();

  const std::string date_;
  // False once the request is destroyed; every handler tests it first.
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool completed_ = false;
  bool description_done_ = false;
  bool image_done_ = false;
  brelt::UvThread& thread_;
  std::unique_ptr<brelt::HttpsRequest> description_request_;
  std::unique_ptr<brelt::HttpsRequest> image_request_;
  ZeroInboxData data_;
  Completion completion_;
};

}  // namespace libkestrun
