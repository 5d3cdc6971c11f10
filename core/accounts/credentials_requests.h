// The requesters of connection credentials and their listeners. Each sync connection registers
// its own listener and holds the returned CredentialsRequest; the user manager calls every
// registered listener at once on registration and again whenever the credentials come into
// being, change or go away (null). Cancelling one request, or destroying it, ends only that
// requester's listener: the main connection keeps hearing of new credentials while the
// background connection comes and goes.
//
// Threads: the core thread only, for registration, cancellation and calls. A request may outlive
// the user manager; it then cancels nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "core/sync/connection_credentials.h"

namespace libkestrun {

// Called with the current credentials, or null while the device has none.
using ConnectionCredentialsListener =
    std::function<void(const std::shared_ptr<internal::ConnectionCredentials>& credentials)>;

class CredentialsListeners;

// One requester's registration. Move-only; empty when default-constructed or moved from.
// Discarding a returned request ends the registration at once, after the first call only, so
// the compiler warns about it.
class [[nodiscard]] CredentialsRequest {
 public:
  CredentialsRequest() = default;
  CredentialsRequest(CredentialsRequest&& other) noexcept;
  // Cancels this request's own registration first, then takes over the other's.
  CredentialsRequest& operator=(CredentialsRequest&& other) noexcept;
  CredentialsRequest(const CredentialsRequest&) = delete;
  CredentialsRequest& operator=(const CredentialsRequest&) = delete;
  ~CredentialsRequest() { cancel(); }

  // Ends the registration: the listener is never called again, not even by a notification that
  // is calling the listeners right now. Cancelling an empty request does nothing.
  void cancel() noexcept;
  bool active() const;

 private:
  friend class CredentialsListeners;
  CredentialsRequest(std::weak_ptr<CredentialsListeners> listeners, uint64_t id)
      : listeners_(std::move(listeners)), id_(id) {}

  std::weak_ptr<CredentialsListeners> listeners_;
  uint64_t id_ = 0;
};

// The table the user manager keeps; created with std::make_shared.
class CredentialsListeners : public std::enable_shared_from_this<CredentialsListeners> {
 public:
  // Registers `listener` (not empty) and returns the request that ends it.
  CredentialsRequest add(ConnectionCredentialsListener listener);
  // Calls every listener registered now, in registration order, each with `credentials`. A
  // listener cancelled by an earlier one during this call is skipped.
  void notify(const std::shared_ptr<internal::ConnectionCredentials>& credentials);
  size_t size() const { return listeners_.size(); }

 private:
  friend class CredentialsRequest;
  void remove(uint64_t id) { listeners_.erase(id); }

  std::map<uint64_t, ConnectionCredentialsListener> listeners_;
  uint64_t next_id_ = 1;
};

}  // namespace libkestrun
