// The picture of the day shown on the empty inbox. Today's picture and its description live in
// the key-value store; they are fetched once per local calendar day (ZeroInboxRequest) and every
// new one is announced with kNewDataNotification (JSON null).
//
// States: a picture of today stored, with a timer set for 00:00:01 of the next day; fetching,
// with one pending request (a new fetch replaces it); or, after a failed fetch, waiting for the
// next _schedule_next_download (application opened, time zone or connection changed, next start).
// A failure is never reported: the picture stored before keeps being served.
//
// The image bytes are stored before the description, so a store interrupted between the two never
// pairs today's description with an older image (an image without its description reads as no
// picture, and the next scheduling fetches again).
//
// Threads: the requests, the timer and the manager's closures run on the core thread;
// _schedule_next_download may be called from any thread and runs there; get_current_photo reads
// the store on the caller's thread, under the mutex that the store of a picture holds, so that it
// never pairs one picture's description with another's bytes. The destructor, called off the core
// thread or on it, stops the pending request and the timer there; later closures touch nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "brelt/timer_handle.h"
#include "brelt/uv_thread.h"
#include "core/foundation/file_utility.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/services/file_manager.h"
#include "core/services/zero_inbox_request.h"

namespace libkestrun {

class ZeroInboxManager {
 public:
  static constexpr char kNewDataNotification[] = "com.kestrun.zero.inbox.new.data.notification";
  static constexpr char kMetadataKey[] = "kestrun.zero.inbox.metadata";
  static constexpr char kPhotoKey[] = "kestrun.zero.inbox.photo_raw";

  // Milliseconds since 1970; tests pin it.
  using Clock = std::function<int64_t()>;

  // Clears what earlier versions kept (a store key and a picture file), then schedules the first
  // fetch on the core thread. `base_url` is where the day's files live, ending with "/".
  ZeroInboxManager(std::shared_ptr<KvStore> store, std::shared_ptr<FileUtility> file_utility,
                   std::shared_ptr<NotificationCenter> center, FileManager& file_manager,
                   brelt::UvThread& thread, std::string base_url, Clock clock = nullptr);
  ~ZeroInboxManager();
  ZeroInboxManager(const ZeroInboxManager&) = delete;
  ZeroInboxManager& operator=(const ZeroInboxManager&) = delete;

  // The stored picture; all empty when no valid description is stored, without bytes when none
  // are stored. Any thread.
  ZeroInboxData get_current_photo();

  // With today's picture stored: sets the timer for the next day (replacing the one set before).
  // Otherwise fetches today's picture. Any thread.
  void _schedule_next_download();
  // Starts a fetch of today's files, replacing a pending one. Core thread.
  void _download_todays_photo();
  // Stores a fetched picture, schedules the next day and announces it; nothing does nothing.
  // Core thread.
  void _store_photo(std::optional<ZeroInboxData> result);

 private:
  void _download(const std::string& date);

  JsonKvStore store_;
  const std::shared_ptr<FileUtility> file_utility_;
  const std::shared_ptr<NotificationCenter> center_;
  FileManager& file_manager_;
  brelt::UvThread& thread_;
  const std::string base_url_;
  const Clock clock_;
  // Held around reading, and around writing, the pair of kMetadataKey and kPhotoKey.
  std::mutex photo_mutex_;
  // False once the destructor ran; posted closures test it first. Core thread.
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  brelt::TimerHandle next_download_timer_;     // core thread
  std::unique_ptr<ZeroInboxRequest> request_;  // core thread; the pending fetch
};

}  // namespace libkestrun
