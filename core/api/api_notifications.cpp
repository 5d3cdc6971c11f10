// Listeners of the core's named notifications, the undo of the last triage step and the answers
// to meeting invitations.
//
// The notification centre carries a registration made off the core thread over to it and waits
// until it is in place, so a listener never misses a notification posted after the call returns.
// The undo manager guards its record with its own mutex and only queues data tasks, so the undo
// operations run on the caller's thread. The request queue of invitation answers belongs to the
// core thread.
#include "core/api/api.h"

namespace libkestrun {

void Api::listen_to_notification(const std::string& name, void* observer, NotificationListener listener) {
  notification_center_->listen(name, observer, std::move(listener));
}

void Api::stop_listening(const std::string& name, void* observer) {
  notification_center_->stop_listening(name, observer);
}

void Api::stop_listening(void* observer) { notification_center_->stop_listening(observer); }

bool Api::has_action_to_undo() { return managers_.undo_manager->hasActionToUndo(); }

std::string Api::alert_message_for_current_state() {
  return managers_.undo_manager->alertMessageForCurrentState();
}

void Api::perform_undo_action() { managers_.undo_manager->performUndoAction(); }

// The request queue takes only "http" and "https" URLs; any other is dropped there, never saved
// or fetched, so an invitation cannot make the core read a local file.
void Api::respond_to_rsvp_at_url(const std::string& email_id, const std::string& url) {
  post([this, email_id, url] { managers_.http_manager->add_request(email_id, url, 1); });
}

}  // namespace libkestrun
