#include "core/accounts/credentials_requests.h"

#include <utility>
#include <vector>

namespace libkestrun {

CredentialsRequest::CredentialsRequest(CredentialsRequest&& other) noexcept
    : listeners_(std::move(other.listeners_)), id_(std::exchange(other.id_, 0)) {}

CredentialsRequest& CredentialsRequest::operator=(CredentialsRequest&& other) noexcept {
  if (this != &other) {
    cancel();
    listeners_ = std::move(other.listeners_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void CredentialsRequest::cancel() noexcept {
  if (std::shared_ptr<CredentialsListeners> listeners = listeners_.lock()) listeners->remove(id_);
  listeners_.reset();
  id_ = 0;
}

bool CredentialsRequest::active() const {
  std::shared_ptr<CredentialsListeners> listeners = listeners_.lock();
  return listeners && listeners->listeners_.count(id_) != 0;
}

CredentialsRequest CredentialsListeners::add(ConnectionCredentialsListener listener) {
  uint64_t id = next_id_++;
  listeners_.emplace(id, std::move(listener));
  return CredentialsRequest(weak_from_this(), id);
}

void CredentialsListeners::notify(const std::shared_ptr<internal::ConnectionCredentials>& credentials) {
  // A listener may cancel itself or another requester, or register a new one, while it runs.
  std::vector<uint64_t> ids;
  ids.reserve(listeners_.size());
  for (const auto& entry : listeners_) ids.push_back(entry.first);
  for (uint64_t id : ids) {
    auto found = listeners_.find(id);
    if (found == listeners_.end()) continue;
    ConnectionCredentialsListener listener = found->second;  // survives its own cancellation
    listener(credentials);
  }
}

}  // namespace libkestrun
