// Connection and application state: the sync connection, the application's activation, focus and
// network changes, background syncs, push tokens, time zone and locale, the clean-ups when the
// application leaves, and two item lists for notifications.
#include <memory>
#include <utility>

#include "core/api/api.h"
#include "core/data/background_writer.h"
#include "core/data/consumer_center.h"
#include "core/foundation/semaphore.h"
#include "core/services/sanity.h"

namespace libkestrun {

void Api::connect() {
  post([this] { controller_.connect(); });
  sanity::log("Api::connect");
  sanity::send_if_requested();
}

void Api::disconnect() {
  sanity::log("Api::disconnect");
  post([this] { controller_.disconnect(); });
}

bool Api::is_connected() { return server_client_->is_connected(); }

void Api::app_opened(const std::string& time_zone_name, const std::string& locale) {
  update_new_email_timestamp_threshold();
  // The picture's timer and pending request belong to the core thread.
  post([this] { managers_.zero_inbox_manager->_schedule_next_download(); });
  set_time_zone_name(time_zone_name);
  managers_.pref_manager->setLocale(locale);
  controller_.app_focused();
}

void Api::app_closed(bool purge) {
  if (purge) purge_stale_data(nullptr);
  classify_all_time_deferred_items(nullptr);
  controller_.app_blurred();
}

void Api::app_focused() { controller_.app_focused(); }

void Api::app_blurred() { controller_.app_blurred(); }

void Api::handle_internet_connection_changed(InternetConnectionType type) {
  post([this, type] {
    managers_.zero_inbox_manager->_schedule_next_download();
    controller_.handle_internet_connection_changed(type);
  });
}

InternetConnectionType Api::get_current_connection_type() {
  return static_cast<InternetConnectionType>(managers_.offline_manager->getConnectionType());
}

void Api::background_sync(std::function<void(internal::BackgroundFetchResult)> completion) {
  server_client_->background_sync(std::move(completion));
}

internal::BackgroundFetchResult Api::background_sync_blocking() {
  // The completion can only run on the core thread: waiting for it there would wait for ever.
  if (is_current_thread()) return -1;
  // Shared with the completion, which the server client may still hold after this returns.
  struct Outcome {
    patch::semaphore done;
    internal::BackgroundFetchResult result = -1;
  };
  auto outcome = std::make_shared<Outcome>();
  background_sync([outcome](internal::BackgroundFetchResult result) {
    outcome->result = result;
    outcome->done.notify();
  });
  outcome->done.wait();
  return outcome->result;
}

void Api::update_device_token(const std::string& token) {
  post([this, token] { server_client_->update_device_token(token); });
}

void Api::update_device_token_amazon(const std::string& token) {
  post([this, token] { server_client_->update_device_token_amazon(token); });
}

void Api::set_time_zone_name(const std::string& name) {
  managers_.pref_manager->setTimeZoneName(name);
  post([this] { managers_.zero_inbox_manager->_schedule_next_download(); });
}

void Api::set_locale(const std::string& locale) { managers_.pref_manager->setLocale(locale); }

void Api::update_new_email_timestamp_threshold() {
  int64_t newest = 0;
  KestrunConsumerCenter::withDBContext(
      [&](DBContext& context) { newest = KSItem::newestThreadTimestamp(&context); });
  managers_.sync_status_manager->updateNewEmailTimestampThreshold(newest);
}

void Api::purge_stale_data(std::function<void(std::vector<std::string>&)> completion) {
  KestrunDataBackgroundWriter::purgeStaleData(std::move(completion));
}

void Api::classify_all_time_deferred_items(std::function<void(std::vector<std::string>&)> completion) {
  KestrunDataBackgroundWriter::classifyAllTimeDeferredItems(std::move(completion));
}

KSObjects<KSItem> Api::get_items_with_unread_emails_since_timestamp(int64_t time) {
  KSObjects<KSItem> items;
  KestrunConsumerCenter::withDBContext(
      [&](DBContext& context) { items = context.unreadInboxItemsModifiedAfter(time); });
  return items;
}

KSObjects<KSItem> Api::get_latest_number_of_items_in_inbox(int count) {
  KSObjects<KSItem> items;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) { items = context.inboxItems(count); });
  return items;
}

}  // namespace libkestrun
