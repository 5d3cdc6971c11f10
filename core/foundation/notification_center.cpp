#include "core/foundation/notification_center.h"

#include <atomic>
#include <utility>

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {

// Small numbers handed out as observer keys never equal the address of a live listener object, so
// they cannot collide with the keys the application passes.
std::atomic<uint32_t> next_observer_key{0};

ProcessInstance<NotificationCenter> instance;

}  // namespace

NotificationCenter::NotificationCenter(brelt::UvThread& thread)
    : tables_(std::make_shared<Tables>()), thread_(&thread) {}

void NotificationCenter::post_notification(const std::string& name, const jsonette::Json& payload) {
  thread_->post([tables = tables_, name, payload] {
    // Deliver to copies, so listeners may register, unregister or post while this runs.
    std::vector<NotificationListener> listeners = tables->catch_all;
    auto it = tables->by_name.find(name);
    if (it != tables->by_name.end()) {
      for (const auto& [key, listener] : it->second) listeners.push_back(listener);
    }
    for (const auto& listener : listeners) listener(name, payload);
  });
}

void NotificationCenter::listen(const std::string& name, void* key, NotificationListener listener) {
  thread_->post_sync([&] { tables_->by_name[name][key] = std::move(listener); });
}

void NotificationCenter::listen_all(NotificationListener listener) {
  thread_->post_sync([&] { tables_->catch_all.push_back(std::move(listener)); });
}

NotificationObserver NotificationCenter::observe(const std::string& name, NotificationListener listener) {
  return NotificationObserver(this, name, std::move(listener));
}

void NotificationCenter::stop_listening(const std::string& name, void* key) {
  thread_->post_sync([&] {
    auto it = tables_->by_name.find(name);
    if (it == tables_->by_name.end()) return;
    it->second.erase(key);
    if (it->second.empty()) tables_->by_name.erase(it);
  });
}

void NotificationCenter::stop_listening(void* key) {
  thread_->post_sync([&] {
    for (auto& [name, listeners] : tables_->by_name) listeners.erase(key);
  });
}

NotificationObserver::NotificationObserver(NotificationCenter* center, const std::string& name,
                                           NotificationListener listener)
    : center_(center),
      key_(static_cast<int64_t>(++next_observer_key)),
      name_(name),
      listener_(std::move(listener)) {
  center_->listen(name_, reinterpret_cast<void*>(key_), listener_);
}

NotificationObserver::NotificationObserver(NotificationObserver&& other) noexcept
    : center_(std::exchange(other.center_, nullptr)),
      key_(std::exchange(other.key_, 0)),
      name_(std::move(other.name_)),
      listener_(std::move(other.listener_)) {}

NotificationObserver& NotificationObserver::operator=(NotificationObserver&& other) noexcept {
  if (this != &other) {
    release();
    center_ = std::exchange(other.center_, nullptr);
    key_ = std::exchange(other.key_, 0);
    name_ = std::move(other.name_);
    listener_ = std::move(other.listener_);
  }
  return *this;
}

NotificationObserver::~NotificationObserver() { release(); }

void NotificationObserver::release() noexcept {
  if (!center_) return;
  center_->stop_listening(name_, reinterpret_cast<void*>(key_));
  center_ = nullptr;
  key_ = 0;
}

void notification_center_set_instance(std::shared_ptr<NotificationCenter> center) {
  instance.set(std::move(center));
}

void notification_center_post_notification(const std::string& name, const jsonette::Json& payload) {
  instance.call(&NotificationCenter::post_notification, name, payload);
}

void notification_center_listen(const std::string& name, void* key, NotificationListener listener) {
  instance.call(&NotificationCenter::listen, name, key, std::move(listener));
}

void notification_center_stop_listening(const std::string& name, void* key) {
  instance.call([&](NotificationCenter& center) { center.stop_listening(name, key); });
}

void notification_center_stop_listening(void* key) {
  instance.call([&](NotificationCenter& center) { center.stop_listening(key); });
}

}  // namespace libkestrun
