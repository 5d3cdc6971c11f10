// Users and devices: registration, device authentication, linking, unlinking, auto-authorisation,
// preferences, push registration and the user state document.
#include "tools/sync_server/ids.h"
#include "tools/sync_server/sync_service.h"

namespace sync_server {

namespace {

bool is_mobile(const std::string& type) {
  return type == "ios" || type == "iphone" || type == "ipad" || type == "android";
}

}  // namespace

void SyncService::auth_device(SessionState& session, const json_t* params, Outcome& out) {
  const std::string user_id = member_string(params, "user_id");
  const std::string device_id = member_string(params, "device_id");
  const std::string secret = member_string(params, "device_secret");
  std::optional<StoredRecord> device = store_.record("device", device_id);
  JsonPtr doc = device ? json_parse(device->doc) : nullptr;
  if (!device || device->parent != user_id || secret.empty() ||
      member_string(doc.get(), "secret") != secret) {
    session.authenticated = false;
    out.pushes.emplace_back(
        "", notification("USER_UNAUTHORIZED", JsonPtr(json_pack("{s:s}", "reason", "credentials"))));
    return;
  }
  session.authenticated = true;
  session.user_id = user_id;
  session.device_id = device_id;
}

void SyncService::new_device(SessionState&, const json_t* params, Outcome& out) {
  if (!json_is_object(params)) return fail(out, "P1", "params must be an object");
  std::string user_id;
  const json_t* credentials = json_object_get(params, "harnvik_credentials");
  if (credentials) {
    user_id = member_string(credentials, "uid");
    if (user_id.empty() || user_id[0] == '-') return fail(out, "D3", "credentials carry no usable uid");
  } else {
    user_id = "-" + random_hex(12);  // anonymous users are told apart by the leading "-"
  }
  std::optional<StoredRecord> user = store_.record("user", user_id);
  JsonPtr user_doc = user ? json_parse(user->doc) : JsonPtr(json_object());
  if (!json_is_object(user_doc.get())) user_doc = JsonPtr(json_object());
  if (const json_t* preferences = json_object_get(params, "preferences"); json_is_object(preferences)) {
    if (!json_is_object(json_object_get(user_doc.get(), "preferences")))
      json_put(user_doc.get(), "preferences", json_object());
    json_object_update(json_object_get(user_doc.get(), "preferences"), const_cast<json_t*>(preferences));
  }
  store_.put_record("user", user_id, "", json_text(user_doc.get()));

  const std::string device_id = random_uuid();
  // A UUID text, the form the client checks a stored secret against (64 hex digits would read as
  // a corrupted user document there).
  JsonPtr device(json_pack("{s:s, s:s, s:s, s:s}", "secret", random_uuid().c_str(), "name",
                           member_string(params, "name").c_str(), "type",
                           member_string(params, "type").c_str(), "vendor_id",
                           member_string(params, "vendor_id").c_str()));
  store_.put_record("device", device_id, user_id, json_text(device.get()));
  // A further device of a user gets the accounts the user lets associate by themselves.
  for (const StoredRecord& link : store_.records_of("user_account", user_id)) {
    JsonPtr account = json_parse(link.doc);
    if (member_bool(account.get(), "auto_authorize"))
      associate_device(device_id, member_string(account.get(), "account_id"));
  }
  out.result = state_document(user_id, device_id, true);
}

void SyncService::unlink(SessionState& session, const json_t* params, Outcome& out) {
  const std::string user_id = member_string(params, "user_id");
  const std::string device_id = member_string(params, "device_id");
  const std::string secret = member_string(params, "device_secret");
  std::optional<StoredRecord> device = store_.record("device", device_id);
  JsonPtr doc = device ? json_parse(device->doc) : nullptr;
  if (!device || device->parent != user_id || secret.empty() || member_string(doc.get(), "secret") != secret)
    return fail(out, "D1", "unknown device or wrong secret");
  store_.remove_record("device", device_id);
  for (const StoredRecord& link : store_.records_of("device_account", device_id))
    store_.remove_record("device_account", link.key);
  if (session.device_id == device_id) session.authenticated = false;
  out.result = JsonPtr(json_pack("{s:s, s:s}", "user_id", user_id.c_str(), "device_id", device_id.c_str()));
}

// An anonymous user who signs in takes the account's uid as user id; everything the user owns
// moves with it.
void SyncService::link(SessionState& session, const json_t* params, Outcome& out) {
  const std::string uid = member_string(json_object_get(params, "harnvik_credentials"), "uid");
  if (uid.empty() || uid[0] == '-') return fail(out, "D3", "credentials carry no usable uid");
  const std::string old_id = session.user_id;
  if (uid != old_id) {
    if (store_.record("user", uid)) return fail(out, "A2", "the account is linked to another user");
    std::optional<StoredRecord> user = store_.record("user", old_id);
    store_.put_record("user", uid, "", user ? user->doc : "{}");
    store_.remove_record("user", old_id);
    for (const StoredRecord& link : store_.records_of("user_account", old_id)) {
      JsonPtr account = json_parse(link.doc);
      const std::string account_id = member_string(account.get(), "account_id");
      store_.remove_record("user_account", link.key);
      store_.remove_record("account_user", account_id + "/" + old_id);
      put_user_account(uid, account_id, account.get());
    }
    store_.reparent_records(old_id, uid);
    store_.reown_objects(old_id, uid);
    store_.reown_replies(old_id, uid);
    session.user_id = uid;
  }
  out.result = state_document(uid, session.device_id, false);
  push_user_state(out, uid);
}

void SyncService::set_auto_auth(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  const json_t* enabled = json_object_get(params, "auto_authorize");
  JsonPtr account = user_account(session.user_id, account_id);
  if (!account) return fail(out, "A4", "not an account of this user");
  if (!json_is_boolean(enabled)) return fail(out, "P1", "auto_authorize must be a boolean");
  json_put(account.get(), "auto_authorize", json_boolean(json_is_true(enabled)));
  put_user_account(session.user_id, account_id, account.get());
  out.result = JsonPtr(
      json_pack("{s:s, s:b}", "account_id", account_id.c_str(), "auto_authorize", json_is_true(enabled)));
  push_user_state(out, session.user_id);
}

void SyncService::preference_update(SessionState& session, const json_t* params, Outcome& out) {
  const json_t* preferences = json_object_get(params, "preferences");
  if (!json_is_object(preferences)) return fail(out, "P1", "preferences must be an object");
  std::optional<StoredRecord> user = store_.record("user", session.user_id);
  JsonPtr doc = user ? json_parse(user->doc) : nullptr;
  if (!json_is_object(doc.get())) doc = JsonPtr(json_object());
  if (!json_is_object(json_object_get(doc.get(), "preferences")))
    json_put(doc.get(), "preferences", json_object());
  json_t* stored = json_object_get(doc.get(), "preferences");
  json_object_update(stored, const_cast<json_t*>(preferences));
  store_.put_record("user", session.user_id, "", json_text(doc.get()));
  out.result = JsonPtr(json_pack("{s:O}", "preferences", stored));
  push_user_state(out, session.user_id);
}

void SyncService::push_register(SessionState& session, const json_t* params, Outcome& out) {
  std::optional<StoredRecord> device = store_.record("device", session.device_id);
  if (!device) return fail(out, "D1", "unknown device");
  JsonPtr doc = json_parse(device->doc);
  if (!json_is_object(doc.get())) doc = JsonPtr(json_object());
  json_put(doc.get(), "push",
           json_pack("{s:s, s:s, s:s}", "push_token", member_string(params, "push_token").c_str(),
                     "push_type", member_string(params, "push_type").c_str(), "app_id",
                     member_string(params, "app_id").c_str()));
  store_.put_record("device", session.device_id, device->parent, json_text(doc.get()));
  out.result = JsonPtr(json_object());
}

void SyncService::associate_device(const std::string& device_id, const std::string& account_id) {
  store_.put_record("device_account", device_id + "/" + account_id, device_id,
                    json_text(JsonPtr(json_pack("{s:s}", "account_id", account_id.c_str())).get()));
}

JsonPtr SyncService::state_document(const std::string& user_id, const std::string& device_id,
                                    bool with_secret) {
  JsonPtr state(json_object());
  json_put(state.get(), "user_id", json_string(user_id.c_str()));
  json_put(state.get(), "device_id", json_string(device_id.c_str()));
  bool desktop = false, mobile = false;
  for (const StoredRecord& device : store_.records_of("device", user_id)) {
    JsonPtr doc = json_parse(device.doc);
    (is_mobile(member_string(doc.get(), "type")) ? mobile : desktop) = true;
    if (with_secret && device.key == device_id)
      json_put(state.get(), "device_secret", json_string(member_string(doc.get(), "secret").c_str()));
  }
  json_put(state.get(), "has_desktop", json_boolean(desktop));
  json_put(state.get(), "has_mobile", json_boolean(mobile));

  JsonPtr accounts(json_array());
  JsonPtr account_docs(json_array());
  for (const StoredRecord& link : store_.records_of("user_account", user_id)) {
    JsonPtr account = json_parse(link.doc);
    const std::string account_id = member_string(account.get(), "account_id");
    const bool associated = store_.record("device_account", device_id + "/" + account_id).has_value();
    JsonPtr mailbox = json_parse(store_.record("mailbox", account_id).value_or(StoredRecord{}).doc);
    json_array_append_new(
        accounts.get(),
        json_pack("{s:s, s:s, s:I, s:b, s:b, s:b}", "account_id", account_id.c_str(), "name",
                  member_string(mailbox.get(), "data").c_str(), "type",
                  static_cast<json_int_t>(member_int(mailbox.get(), "type")), "associated", associated,
                  "auto_authorize", member_bool(account.get(), "auto_authorize"), "authorized", 1));
    if (associated)
      json_array_append_new(account_docs.get(), account_document(user_id, account_id).release());
  }
  json_put(state.get(), "accounts", accounts.release());
  json_put(state.get(), "account_docs", account_docs.release());
  std::optional<StoredRecord> user = store_.record("user", user_id);
  JsonPtr user_doc = user ? json_parse(user->doc) : nullptr;
  if (const json_t* preferences = json_object_get(user_doc.get(), "preferences"); json_is_object(preferences))
    json_put(state.get(), "preferences", json_deep_copy(preferences));
  return state;
}

void SyncService::push_user_state(Outcome& out, const std::string& user_id) {
  for (const StoredRecord& device : store_.records_of("device", user_id))
    out.pushes.emplace_back(device.key,
                            notification("USER_STATE", state_document(user_id, device.key, false)));
}

}  // namespace sync_server
