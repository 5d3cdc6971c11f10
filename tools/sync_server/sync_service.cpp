#include "tools/sync_server/sync_service.h"

#include "tools/sync_server/sample_mailbox.h"

namespace sync_server {

SyncService::SyncService(SyncStore& store, Outbox& outbox, size_t max_reply_bytes)
    : store_(store), outbox_(outbox), max_reply_bytes_(max_reply_bytes) {
  if (store_.meta("seeded")) return;
  SyncStore::Transaction transaction(store_);
  seed_sample_mailbox(store_);
  store_.set_meta("seeded", "1");
  transaction.commit();
}

const std::map<std::string, SyncService::Method>& SyncService::methods() {
  static const std::map<std::string, Method> table = {
      {"USER_AUTH_DEVICE", {&SyncService::auth_device, false, false}},
      {"USER_NEW_DEVICE", {&SyncService::new_device, false, false}},
      {"USER_UNLINK", {&SyncService::unlink, false, false}},
      {"USER_LINK", {&SyncService::link, true, true}},
      {"USER_SET_AUTO_AUTH", {&SyncService::set_auto_auth, true, true}},
      {"ACCOUNT_CREATE", {&SyncService::account_create, true, true}},
      {"ACCOUNT_ASSOCIATE", {&SyncService::account_associate, true, true}},
      {"ACCOUNT_UPDATE", {&SyncService::account_update, true, true}},
      {"ACCOUNT_REMOVE", {&SyncService::account_remove, true, true}},
      {"ACCOUNT_SNAPSHOT", {&SyncService::account_snapshot, true, false}},
      {"BACKGROUND_ACCOUNT_SNAPSHOT", {&SyncService::account_snapshot, true, false}},
      {"USER_SNAPSHOT", {&SyncService::user_snapshot, true, false}},
      {"USER_ITEM_SAVE", {&SyncService::user_item_save, true, true}},
      {"USER_ITEM_REMOVE", {&SyncService::user_item_remove, true, true}},
      {"ITEM_SAVE", {&SyncService::item_save, true, true}},
      {"ITEM_UPDATE", {&SyncService::item_update, true, true}},
      {"ARCHIVE_ALL", {&SyncService::archive_all, true, true}},
      {"PURGE_ALL_TRASH", {&SyncService::purge_all_trash, true, true}},
      {"EMAIL_SAVE", {&SyncService::email_save, true, true}},
      {"EMAIL_UPDATE", {&SyncService::email_update, true, true}},
      {"EMAIL_FLAG", {&SyncService::email_flag, true, true}},
      {"LIST_SAVE", {&SyncService::list_save, true, true}},
      {"LIST_UPDATE", {&SyncService::list_update, true, true}},
      {"LIST_DELETE", {&SyncService::list_delete, true, true}},
      {"PREFERENCE_UPDATE", {&SyncService::preference_update, true, true}},
      {"AUTO_SWIPE_DECISION", {&SyncService::auto_swipe_decision, true, true}},
      {"AUTO_SWIPE_RULES_GET", {&SyncService::auto_swipe_rules_get, true, false}},
      {"PUSH_REGISTER", {&SyncService::push_register, true, true}},
      {"SEARCH_PRIME", {&SyncService::search_prime, true, false}},
      {"SEARCH_QUERY", {&SyncService::search_query, true, false}},
      {"SEARCH_FETCH", {&SyncService::search_fetch, true, false}},
  };
  return table;
}

bool SyncService::handle(SessionState& session, const std::string& text) {
  JsonPtr message = json_parse(text);
  if (!message) return false;
  if (!session.greeted) {
    const json_t* hello = message.get();
    if (!json_is_object(hello) || !json_is_string(json_object_get(hello, "version")) ||
        !json_is_string(json_object_get(hello, "device")))
      return false;
    session.greeted = true;
    return true;
  }
  // The client's outgoing queue sends several requests as one array.
  if (json_is_array(message.get())) {
    size_t index;
    json_t* element;
    json_array_foreach(message.get(), index, element) {
      if (!handle_message(session, element)) return false;
    }
    return true;
  }
  return handle_message(session, message.get());
}

bool SyncService::handle_message(SessionState& session, const json_t* message) {
  const std::string method = member_string(message, "method");
  if (method.empty()) return false;
  if (method == "ping") return true;  // keep-alive; never answered
  serve(session, method, member_string(message, "id"), json_object_get(message, "params"));
  return true;
}

void SyncService::serve(SessionState& session, const std::string& method, const std::string& id,
                        const json_t* params) {
  Outcome out;
  auto reply = [&] {
    JsonPtr envelope(json_object());
    json_put(envelope.get(), "type", json_string(method.c_str()));
    json_put(envelope.get(), "id", json_string(id.c_str()));
    if (out.result || !out.error_only_on_failure)
      json_put(envelope.get(), "result", out.result ? json_incref(out.result.get()) : json_null());
    if (out.error || !out.error_only_on_failure)
      json_put(envelope.get(), "error", out.error ? json_incref(out.error.get()) : json_null());
    return json_text(envelope.get());
  };
  auto answer = [&](const std::string& text) {
    if (!id.empty()) outbox_.to_session(session.id, text);
  };

  auto found = methods().find(method);
  if (found == methods().end()) {
    fail(out, "M1", "unknown method");
    return answer(reply());
  }
  const Method& entry = found->second;
  // The device may have been unlinked, or its user renamed by linking, on another connection.
  if (session.authenticated) {
    std::optional<StoredRecord> device = store_.record("device", session.device_id);
    session.authenticated = device.has_value();
    if (device) session.user_id = device->parent;
  }
  if (entry.needs_auth && !session.authenticated) {
    fail(out, "U1", "the device has not authenticated");
    return answer(reply());
  }
  if (auto dropping = dropping_.find(method); dropping != dropping_.end() && dropping->second > 0) {
    --dropping->second;
    return;
  }
  if (auto failing = failing_.find(method); failing != failing_.end() && failing->second.first > 0) {
    --failing->second.first;
    fail(out, failing->second.second.c_str(), "failed on request");
    return answer(reply());
  }
  const bool once = entry.once && !id.empty();
  if (once) {
    if (std::optional<std::string> stored = store_.applied_reply(session.user_id, id)) return answer(*stored);
  }

  const std::string user_before = session.user_id;
  try {
    SyncStore::Transaction transaction(store_);
    (this->*entry.handler)(session, params, out);
    if (once && !out.error) store_.record_reply(session.user_id, id, reply());
    transaction.commit();
  } catch (const std::exception& error) {
    // The transaction rolled back: nothing was applied, so nothing is announced.
    out = Outcome();
    session.user_id = user_before;
    fail(out, "S1", error.what());
  }
  for (const std::string& text : out.leading) outbox_.to_session(session.id, text);
  answer(reply());
  for (const auto& [device, text] : out.pushes) {
    if (device.empty())
      outbox_.to_session(session.id, text);
    else
      outbox_.to_device(device, text);
  }
}

void SyncService::fail(Outcome& out, const char* code, const std::string& message) {
  out.result.reset();
  out.error = JsonPtr(json_pack("{s:s, s:s%}", "code", code, "message", message.data(), message.size()));
}

std::string SyncService::notification(const std::string& method, JsonPtr params) {
  JsonPtr message(json_object());
  json_put(message.get(), "type", json_string("NOTIFICATION"));
  json_put(message.get(), "method", json_string(method.c_str()));
  json_put(message.get(), "params", params ? params.release() : json_object());
  return json_text(message.get());
}

void SyncService::push_to_user(Outcome& out, const std::string& user_id, const std::string& text) {
  for (const StoredRecord& device : store_.records_of("device", user_id))
    out.pushes.emplace_back(device.key, text);
}

std::vector<std::string> SyncService::users_of_account(const std::string& account_id) {
  std::vector<std::string> users;
  for (const StoredRecord& link : store_.records_of("account_user", account_id)) {
    JsonPtr doc = json_parse(link.doc);
    users.push_back(member_string(doc.get(), "user_id"));
  }
  return users;
}

// Account documents go to every device the account is associated with, drafts and rules to every
// device of their user.
void SyncService::push_document(Outcome& out, const std::string& owner, const json_t* doc,
                                const std::string& doc_type) {
  JsonPtr params(json_object());
  json_put(params.get(), "doc", json_deep_copy(doc));
  json_put(params.get(), "doc_type", json_string(doc_type.c_str()));
  const std::string text = notification("DOCUMENT", std::move(params));
  if (store_.record("mailbox", owner)) {
    for (const std::string& user : users_of_account(owner)) {
      for (const StoredRecord& device : store_.records_of("device", user)) {
        if (store_.record("device_account", device.key + "/" + owner))
          out.pushes.emplace_back(device.key, text);
      }
    }
  } else {
    push_to_user(out, owner, text);
  }
}

bool SyncService::notify_user(const std::string& user_id, const std::string& method, const json_t* params) {
  if (!store_.record("user", user_id)) return false;
  Outcome out;
  push_to_user(out, user_id, notification(method, json_copy(json_is_object(params) ? params : nullptr)));
  for (const auto& [device, text] : out.pushes) outbox_.to_device(device, text);
  return true;
}

std::string SyncService::deliver_mail(const NewMail& mail) {
  if (!store_.record("mailbox", mail.account_id)) return "";
  Outcome out;
  std::string item_id;
  {
    SyncStore::Transaction transaction(store_);
    item_id = store_new_mail(out, mail);
    transaction.commit();
  }
  for (const auto& [device, text] : out.pushes) outbox_.to_device(device, text);
  return item_id;
}

void SyncService::fail_next(const std::string& method, int count, const std::string& code) {
  failing_[method] = {count, code};
}

void SyncService::drop_next(const std::string& method, int count) { dropping_[method] = count; }

std::vector<std::string> SyncService::devices_of(const std::string& user_id) {
  std::vector<std::string> devices;
  for (const StoredRecord& device : store_.records_of("device", user_id)) devices.push_back(device.key);
  return devices;
}

std::string SyncService::device_doc(const std::string& device_id) {
  std::optional<StoredRecord> device = store_.record("device", device_id);
  return device ? device->doc : std::string();
}

}  // namespace sync_server
