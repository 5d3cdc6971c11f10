#include "core/services/zero_inbox_manager.h"

#include <chrono>
#include <utility>

#include "core/foundation/utility.h"

namespace libkestrun {

namespace {
constexpr char kDateCheckedKey[] = "pellavine.zero.inbox.date.checked";
constexpr char kOldDirectory[] = "ZeroInbox";
constexpr char kOldPicture[] = "zero-image.jpg";
}  // namespace

ZeroInboxManager::ZeroInboxManager(std::shared_ptr<KvStore> store, std::shared_ptr<FileUtility> file_utility,
                                   std::shared_ptr<NotificationCenter> center, FileManager& file_manager,
                                   brelt::UvThread& thread, std::string base_url, Clock clock)
    : store_(std::move(store)),
      file_utility_(std::move(file_utility)),
      center_(std::move(center)),
      file_manager_(file_manager),
      thread_(thread),
      base_url_(std::move(base_url)),
      clock_(clock ? std::move(clock) : Clock(&Utility::now_ms)) {
  store_.erase(kDateCheckedKey);
  const std::string old_directory = file_utility_->join(file_manager_.getDataDirectory(), kOldDirectory);
  file_utility_->remove(file_utility_->join(old_directory, kOldPicture));
  file_utility_->remove(old_directory);
  thread_.post([this, alive = alive_] {
    if (*alive) _schedule_next_download();
  });
}

ZeroInboxManager::~ZeroInboxManager() {
  thread_.post_sync([this] {
    *alive_ = false;
    next_download_timer_ = brelt::TimerHandle();
    request_.reset();
  });
}

ZeroInboxData ZeroInboxManager::get_current_photo() {
  std::lock_guard<std::mutex> lock(photo_mutex_);
  std::optional<ZeroInboxData> data = ZeroInboxData::from_json(store_.get_json(kMetadataKey));
  if (!data) return ZeroInboxData();
  if (std::optional<KvStore::Bytes> bytes = store_.get(kPhotoKey)) data->bytes = std::move(*bytes);
  return *data;
}

void ZeroInboxManager::_schedule_next_download() {
  if (!thread_.is_current_thread()) {
    thread_.post([this, alive = alive_] {
      if (*alive) _schedule_next_download();
    });
    return;
  }
  const int64_t now = clock_();
  const std::string today = zero_inbox_date_string(now);
  if (get_current_photo().showDate != today) return _download(today);
  next_download_timer_ =
      thread_.defer(std::chrono::milliseconds(Utility::ms_until_tomorrow(now)), [this, alive = alive_] {
        // Not from inside the timer's own callback: scheduling replaces this very timer.
        thread_.post([this, alive] {
          if (*alive) _schedule_next_download();
        });
      });
}

void ZeroInboxManager::_download_todays_photo() { _download(zero_inbox_date_string(clock_())); }

void ZeroInboxManager::_download(const std::string& date) {
  // The completion runs inside the request's handler: the request is dropped in a later closure.
  auto completion = [this, alive = alive_](std::optional<ZeroInboxData> result) {
    thread_.post([this, alive, result = std::move(result)]() mutable {
      if (*alive) _store_photo(std::move(result));
    });
  };
  request_ = std::make_unique<ZeroInboxRequest>(thread_, base_url_, date, std::move(completion));
}

void ZeroInboxManager::_store_photo(std::optional<ZeroInboxData> result) {
  if (!result) return;  // the failed request stays pending until the next scheduling
  {
    std::lock_guard<std::mutex> lock(photo_mutex_);
    store_.set(kPhotoKey, result->bytes);
    store_.set_json(kMetadataKey, result->to_json());
  }
  request_.reset();
  _schedule_next_download();
  center_->post_notification(kNewDataNotification, nullptr);
}

}  // namespace libkestrun
