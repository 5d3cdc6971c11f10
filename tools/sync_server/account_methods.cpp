// Mail accounts of a user: adding a sample mailbox with its password or access code,
// associating it with further devices, renaming, re-authorising, aliases and removal.
#include <strings.h>

#include "tools/sync_server/ids.h"
#include "tools/sync_server/sync_service.h"

namespace sync_server {

JsonPtr SyncService::user_account(const std::string& user_id, const std::string& account_id) {
  std::optional<StoredRecord> link = store_.record("user_account", user_id + "/" + account_id);
  if (!link) return nullptr;
  JsonPtr doc = json_parse(link->doc);
  return json_is_object(doc.get()) ? std::move(doc) : nullptr;
}

JsonPtr SyncService::device_account(const SessionState& session, const std::string& account_id) {
  if (!store_.record("device_account", session.device_id + "/" + account_id)) return nullptr;
  return user_account(session.user_id, account_id);
}

void SyncService::put_user_account(const std::string& user_id, const std::string& account_id,
                                   const json_t* doc) {
  store_.put_record("user_account", user_id + "/" + account_id, user_id, json_text(doc));
  store_.put_record("account_user", account_id + "/" + user_id, account_id,
                    json_text(JsonPtr(json_pack("{s:s}", "user_id", user_id.c_str())).get()));
}

JsonPtr SyncService::account_document(const std::string& user_id, const std::string& account_id) {
  JsonPtr account = user_account(user_id, account_id);
  JsonPtr mailbox = json_parse(store_.record("mailbox", account_id).value_or(StoredRecord{}).doc);
  const json_t* aliases = json_object_get(account.get(), "aliases");
  return JsonPtr(json_pack("{s:s, s:s, s:s, s:s, s:I, s:o}", "account_id", account_id.c_str(), "data",
                           member_string(mailbox.get(), "data").c_str(), "name",
                           member_string(account.get(), "name", member_string(mailbox.get(), "name")).c_str(),
                           "description", member_string(account.get(), "description").c_str(), "type",
                           static_cast<json_int_t>(member_int(mailbox.get(), "type")), "aliases",
                           json_is_array(aliases) ? json_deep_copy(aliases) : json_array()));
}

namespace {

// The "AUTH" notification of an account as the user now has it.
JsonPtr auth_params(JsonPtr account_doc, const json_t* user_account) {
  json_put(account_doc.get(), "client_reset",
           json_string(member_string(user_account, "client_reset").c_str()));
  return account_doc;
}

}  // namespace

void SyncService::account_create(SessionState& session, const json_t* params, Outcome& out) {
  const json_t* credentials = json_object_get(params, "credentials");
  const std::string password = member_string(credentials, "password");
  const std::string access_code = member_string(credentials, "access_code");
  const std::string address = member_string(params, "data");
  if (password.empty() == access_code.empty())
    return fail(out, "P1", "give either a password or an access code");

  std::string account_id;
  bool known_address = false;
  for (const StoredRecord& record : store_.records_of("mailbox", "")) {
    JsonPtr mailbox = json_parse(record.doc);
    if (!password.empty()) {
      if (strcasecmp(member_string(mailbox.get(), "data").c_str(), address.c_str()) != 0) continue;
      known_address = true;
      if (member_string(mailbox.get(), "password") == password) account_id = record.key;
    } else if (member_string(mailbox.get(), "access_code") == access_code) {
      account_id = record.key;
    }
  }
  if (account_id.empty())
    return fail(out, known_address || password.empty() ? "A2" : "A3", "these credentials open no mailbox");

  JsonPtr account = user_account(session.user_id, account_id);
  const bool new_account = !account;
  if (new_account) {
    account =
        JsonPtr(json_pack("{s:s, s:s, s:b, s:b, s:[]}", "account_id", account_id.c_str(), "client_reset",
                          random_hex(8).c_str(), "auto_authorize", 0, "initial_sync_pending", 1, "aliases"));
    put_user_account(session.user_id, account_id, account.get());
    // The user's rules and drafts that belong with the sample account.
    for (const auto& [from, to] :
         {std::pair{"sample_auto_swipe", "auto_swipe"}, {"sample_user_item", "user_item"}}) {
      for (const StoredObject& sample : store_.objects_since(account_id, from, 0)) {
        JsonPtr doc = json_parse(sample.doc);
        json_put(doc.get(), "user_id", json_string(session.user_id.c_str()));
        store_.save(session.user_id, to, sample.id, doc.get());
      }
    }
  }
  associate_device(session.device_id, account_id);
  out.result = account_document(session.user_id, account_id);
  json_put(out.result.get(), "new_account", json_boolean(new_account));
  json_put(out.result.get(), "client_reset",
           json_string(member_string(account.get(), "client_reset").c_str()));
  push_to_user(
      out, session.user_id,
      notification("AUTH", auth_params(account_document(session.user_id, account_id), account.get())));
  push_user_state(out, session.user_id);
}

void SyncService::account_associate(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  JsonPtr account = user_account(session.user_id, account_id);
  if (!account) return fail(out, "A1", "not an account of this user");
  associate_device(session.device_id, account_id);
  out.result = account_document(session.user_id, account_id);
  json_put(out.result.get(), "client_reset",
           json_string(member_string(account.get(), "client_reset").c_str()));
  push_user_state(out, session.user_id);
}

void SyncService::account_update(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  JsonPtr account = user_account(session.user_id, account_id);
  if (!account) return fail(out, "A4", "not an account of this user");
  if (const json_t* credentials = json_object_get(params, "credentials")) {
    JsonPtr mailbox = json_parse(store_.record("mailbox", account_id).value_or(StoredRecord{}).doc);
    const std::string password = member_string(credentials, "password");
    const std::string access_code = member_string(credentials, "access_code");
    const bool good = (!password.empty() && password == member_string(mailbox.get(), "password")) ||
                      (!access_code.empty() && access_code == member_string(mailbox.get(), "access_code"));
    if (!good) return fail(out, "A2", "these credentials do not open the mailbox");
  }
  for (const char* key : {"name", "description"}) {
    if (const json_t* value = json_object_get(params, key); json_is_string(value))
      json_put(account.get(), key, json_deep_copy(value));
  }
  if (const json_t* aliases = json_object_get(params, "aliases"); json_is_array(aliases)) {
    JsonPtr kept(json_array());
    size_t index;
    json_t* alias;
    json_array_foreach(aliases, index, alias) {
      if (json_is_string(json_object_get(alias, "address")))
        json_array_append_new(kept.get(),
                              json_pack("{s:s}", "address", member_string(alias, "address").c_str()));
    }
    json_put(account.get(), "aliases", kept.release());
  }
  put_user_account(session.user_id, account_id, account.get());
  out.result = account_document(session.user_id, account_id);
  push_to_user(
      out, session.user_id,
      notification("AUTH", auth_params(account_document(session.user_id, account_id), account.get())));
}

void SyncService::account_remove(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  if (!user_account(session.user_id, account_id)) return fail(out, "A4", "not an account of this user");
  if (member_int(params, "global_remove") == 1) {
    store_.remove_record("user_account", session.user_id + "/" + account_id);
    store_.remove_record("account_user", account_id + "/" + session.user_id);
    for (const StoredRecord& device : store_.records_of("device", session.user_id))
      store_.remove_record("device_account", device.key + "/" + account_id);
    push_to_user(out, session.user_id,
                 notification("AUTH", JsonPtr(json_pack("{s:s, s:b}", "account_id", account_id.c_str(),
                                                        "_deleted", 1))));
  } else {
    store_.remove_record("device_account", session.device_id + "/" + account_id);
  }
  out.result = JsonPtr(json_pack("{s:s}", "account_id", account_id.c_str()));
  push_user_state(out, session.user_id);
}

}  // namespace sync_server
