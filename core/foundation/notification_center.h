// Named events of the core ("com.kestrun.…" names with a JSON payload) for whoever listens. Any
// thread may post; listeners are always called on the core thread, after the closure that posted
// returns, in posting order relative to the other work queued at the highest priority.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "brelt/uv_thread.h"
#include "jsonette/json.h"

namespace libkestrun {

using NotificationListener = std::function<void(const std::string&, const jsonette::Json&)>;

class NotificationObserver;

class NotificationCenter {
 public:
  explicit NotificationCenter(brelt::UvThread& thread);
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Queues the delivery and returns at once.
  void post_notification(const std::string& name, const jsonette::Json& payload);

  // Registers `listener` for `name` under `key`, replacing what the key had there; returns once the
  // registration is in place. Keys are opaque: the application passes its listener's address.
  void listen(const std::string& name, void* key, NotificationListener listener);
  // A listener that receives every notification, before the listeners of the name.
  void listen_all(NotificationListener listener);
  // A registration under a fresh key that ends when the returned observer is destroyed.
  NotificationObserver observe(const std::string& name, NotificationListener listener);

  void stop_listening(const std::string& name, void* key);
  // Removes `key` from every name.
  void stop_listening(void* key);

 private:
  // Belongs to the core thread. Deliveries already queued share it, so they stay valid even if
  // the center is released before they run.
  struct Tables {
    std::unordered_map<std::string, std::unordered_map<void*, NotificationListener>> by_name;
    std::vector<NotificationListener> catch_all;
  };

  std::shared_ptr<Tables> tables_;
  brelt::UvThread* thread_;
};

// Registered from construction to destruction under a key of its own.
class NotificationObserver {
 public:
  NotificationObserver() = default;
  NotificationObserver(NotificationCenter* center, const std::string& name, NotificationListener listener);
  NotificationObserver(NotificationObserver&& other) noexcept;
  // Ends this observer's own registration first, then takes over the other's.
  NotificationObserver& operator=(NotificationObserver&& other) noexcept;
  NotificationObserver(const NotificationObserver&) = delete;
  NotificationObserver& operator=(const NotificationObserver&) = delete;
  virtual ~NotificationObserver();

 private:
  void release() noexcept;

  NotificationCenter* center_ = nullptr;
  int64_t key_ = 0;
  std::string name_;
  NotificationListener listener_;
};

// The process-wide center that the core facade sets (see process_instance.h); while none is set
// the forwarders do nothing.
void notification_center_set_instance(std::shared_ptr<NotificationCenter> center);
void notification_center_post_notification(const std::string& name, const jsonette::Json& payload);
void notification_center_listen(const std::string& name, void* key, NotificationListener listener);
void notification_center_stop_listening(const std::string& name, void* key);
void notification_center_stop_listening(void* key);

}  // namespace libkestrun
