#include "core/services/zero_inbox_request.h"

#include <chrono>
#include <cstdio>

#include "brelt/log.h"
#include "core/foundation/utility.h"

namespace {
constexpr char kLogTag[] = "ZeroInboxRequest";

std::optional<std::string> string_member(const jsonette::Json& json, const char* key) {
  const jsonette::Json& value = json[key];
  if (!value.is_string()) return std::nullopt;
  return value.string_value();
}
}  // namespace

jsonette::Json ZeroInboxData::to_json() const {
  return jsonette::Json::object{{"showDate", showDate}, {"uri", uri}, {"mediaID", mediaID}};
}

std::optional<ZeroInboxData> ZeroInboxData::from_json(const std::optional<jsonette::Json>& json) {
  if (!json || !json->is_object()) return std::nullopt;
  std::optional<std::string> show_date = string_member(*json, "showDate");
  std::optional<std::string> uri = string_member(*json, "uri");
  std::optional<std::string> media_id = string_member(*json, "mediaID");
  if (!show_date || !uri || !media_id) return std::nullopt;
  ZeroInboxData data;
  data.showDate = *show_date;
  data.uri = *uri;
  data.mediaID = *media_id;
  return data;
}

namespace libkestrun {

std::string zero_inbox_date_string(int64_t now_ms) {
  const struct tm local =
      Utility::local_time(std::chrono::system_clock::time_point(std::chrono::milliseconds(now_ms)));
  char text[32];
  std::snprintf(text, sizeof(text), "%d-%d-%d", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
  return text;
}

std::string zero_inbox_date_string() { return zero_inbox_date_string(Utility::now_ms()); }

ZeroInboxRequest::ZeroInboxRequest(brelt::UvThread& thread, const std::string& base_url, std::string date,
                                   Completion completion)
    : date_(std::move(date)), thread_(thread), completion_(std::move(completion)) {
  using brelt::HttpsRequest;
  try {
    description_request_ = std::make_unique<HttpsRequest>(thread_.get_loop(), HttpsRequest::Method::GET,
                                                          base_url + date_ + ".json");
    image_request_ = std::make_unique<HttpsRequest>(thread_.get_loop(), HttpsRequest::Method::GET,
                                                    base_url + date_ + ".jpg");
  } catch (const std::exception& error) {
    // A base URL that does not parse: a failed fetch, reported once the constructor is done.
    brelt::log_error(kLogTag, error.what());
    description_request_.reset();
    image_request_.reset();
    thread_.post([this, alive = alive_] {
      if (*alive) _fail();
    });
    return;
  }
  auto on_error = [this, alive = alive_] {
    if (*alive) _fail();
  };
  description_request_->set_on_response(
      [this, alive = alive_](brelt::HttpMetadata metadata, std::vector<unsigned char> body) {
        if (*alive) _on_description(metadata, body);
      });
  description_request_->set_on_error(on_error);
  image_request_->set_on_response(
      [this, alive = alive_](brelt::HttpMetadata metadata, std::vector<unsigned char> body) {
        if (*alive) _on_image(metadata, std::move(body));
      });
  image_request_->set_on_error(on_error);
  description_request_->connect();
  image_request_->connect();
}

ZeroInboxRequest::~ZeroInboxRequest() { *alive_ = false; }

void ZeroInboxRequest::_on_description(const brelt::HttpMetadata& metadata,
                                       const std::vector<unsigned char>& body) {
  if (metadata.status_code != 200) return _fail();
  std::string error;
  jsonette::Json json = jsonette::Json::parse(std::string(body.begin(), body.end()), error);
  std::optional<ZeroInboxData> description =
      error.empty() ? ZeroInboxData::from_json(json) : std::optional<ZeroInboxData>();
  if (!description) return _fail();
  data_.uri = description->uri;
  data_.mediaID = description->mediaID;
  data_.showDate = date_;
  description_done_ = true;
  _finish_if_whole();
}

void ZeroInboxRequest::_on_image(const brelt::HttpMetadata& metadata, std::vector<unsigned char> body) {
  if (metadata.status_code != 200) return _fail();
  data_.bytes = std::move(body);
  image_done_ = true;
  _finish_if_whole();
}

void ZeroInboxRequest::_fail() {
  if (completed_) return;
  completed_ = true;
  completion_(std::nullopt);
}

void ZeroInboxRequest::_finish_if_whole() {
  if (completed_ || !description_done_ || !image_done_) return;  // the other answer is awaited
  completed_ = true;
  completion_(std::move(data_));
}

}  // namespace libkestrun
