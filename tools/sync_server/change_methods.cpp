// Changes the client makes to items, e-mails, lists and auto-swipe rules, and new mail arriving in
// a mailbox. Every stored change is pushed as a DOCUMENT to every connected device of every user
// of the account, the sender included: its "saved_at" tells the sender the change is in.
#include <strings.h>

#include <chrono>

#include "tools/sync_server/html_text.h"
#include "tools/sync_server/ids.h"
#include "tools/sync_server/sync_service.h"

namespace sync_server {

namespace {

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// Merges params' "doc" into the stored object of `kind` (making it when `create`), then `forced`.
void SyncService::save_document(SessionState& session, const json_t* params, Outcome& out, const char* kind,
                                bool create, const json_t* forced) {
  const json_t* doc = json_object_get(params, "doc");
  const std::string id = member_string(doc, "_id");
  const std::string account_id = member_string(doc, "acct_id");
  if (id.empty() || account_id.empty()) return fail(out, "P1", "the document needs an _id and an acct_id");
  if (!device_account(session, account_id)) return fail(out, "O1", "not an account of this device");
  std::optional<StoredObject> existing = store_.object(account_id, kind, id);
  if (!existing && !create) return fail(out, "O2", "no such object");
  JsonPtr merged = existing ? json_parse(existing->doc) : JsonPtr(json_object());
  json_object_update(merged.get(), const_cast<json_t*>(doc));
  if (forced) json_object_update(merged.get(), const_cast<json_t*>(forced));
  const int64_t saved_at = store_.save(account_id, kind, id, merged.get());
  out.result =
      JsonPtr(json_pack("{s:s, s:I}", "_id", id.c_str(), "saved_at", static_cast<json_int_t>(saved_at)));
  push_document(out, account_id, merged.get(), kind);
}

void SyncService::item_save(SessionState& session, const json_t* params, Outcome& out) {
  save_document(session, params, out, "item", true, nullptr);
}

void SyncService::item_update(SessionState& session, const json_t* params, Outcome& out) {
  save_document(session, params, out, "item", false, nullptr);
}

void SyncService::email_update(SessionState& session, const json_t* params, Outcome& out) {
  save_document(session, params, out, "email", false, nullptr);
}

void SyncService::list_save(SessionState& session, const json_t* params, Outcome& out) {
  save_document(session, params, out, "list", true, nullptr);
}

void SyncService::list_update(SessionState& session, const json_t* params, Outcome& out) {
  save_document(session, params, out, "list", false, nullptr);
}

void SyncService::list_delete(SessionState& session, const json_t* params, Outcome& out) {
  JsonPtr deleted(json_pack("{s:b}", "_deleted", 1));
  save_document(session, params, out, "list", false, deleted.get());
}

// Stored as sent in the sender's account, and as new mail in the inbox of every sample mailbox
// it is addressed to.
void SyncService::email_save(SessionState& session, const json_t* params, Outcome& out) {
  JsonPtr sent(json_pack("{s:b, s:i}", "sent", 1, "send_state", 2));
  save_document(session, params, out, "email", true, sent.get());
  if (out.error) return;
  const json_t* doc = json_object_get(params, "doc");
  const std::string sender_account = member_string(doc, "acct_id");
  const json_t* from = json_object_get(doc, "from");
  for (const char* field : {"to", "cc", "bcc"}) {
    size_t index;
    json_t* name;
    json_array_foreach(json_object_get(doc, field), index, name) {
      const std::string address = member_string(name, "address");
      for (const StoredRecord& record : store_.records_of("mailbox", "")) {
        if (record.key == sender_account) continue;
        JsonPtr mailbox = json_parse(record.doc);
        if (address.empty() || strcasecmp(member_string(mailbox.get(), "data").c_str(), address.c_str()) != 0)
          continue;
        store_new_mail(out, {record.key, member_string(from, "name"), member_string(from, "address"),
                             member_string(doc, "subject"), member_string(doc, "conversation")});
      }
    }
  }
}

void SyncService::email_flag(SessionState& session, const json_t* params, Outcome& out) {
  const std::string email_id = member_string(params, "email_id");
  const std::string account_id = member_string(params, "account_id");
  JsonPtr forced(json_pack("{s:s}", "flagged", member_string(params, "reason", "flagged").c_str()));
  JsonPtr change(json_pack("{s:{s:s, s:s}}", "doc", "_id", email_id.c_str(), "acct_id", account_id.c_str()));
  save_document(session, change.get(), out, "email", false, forced.get());
}

void SyncService::change_items(Outcome& out, const std::string& account_id, int64_t from_date, int from_state,
                               int to_state) {
  int64_t changed = 0;
  for (const StoredObject& object : store_.objects_since(account_id, "item", 0)) {
    JsonPtr item = json_parse(object.doc);
    if (member_int(item.get(), "state") != from_state || member_int(item.get(), "created_at") > from_date)
      continue;
    json_put(item.get(), "state", json_integer(to_state));
    json_put(item.get(), "prev_state", json_integer(from_state));
    json_put(item.get(), "modified_at", json_integer(now_ms()));
    store_.save(account_id, "item", object.id, item.get());
    push_document(out, account_id, item.get(), "item");
    ++changed;
  }
  out.result = JsonPtr(
      json_pack("{s:s, s:I}", "account_id", account_id.c_str(), "count", static_cast<json_int_t>(changed)));
}

// Everything in the inbox from before "from_date" is archived; the type is not told apart.
void SyncService::archive_all(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  if (!device_account(session, account_id)) return fail(out, "O1", "not an account of this device");
  change_items(out, account_id, member_int(params, "from_date"), 2, 3);
}

void SyncService::purge_all_trash(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  if (!device_account(session, account_id)) return fail(out, "O1", "not an account of this device");
  change_items(out, account_id, member_int(params, "from_date"), 4, 6);
}

void SyncService::auto_swipe_decision(SessionState& session, const json_t* params, Outcome& out) {
  const json_t* rule = json_object_get(params, "auto_swipe");
  const std::string id = member_string(rule, "_id");
  if (id.empty()) return fail(out, "P1", "the rule needs an _id");
  std::optional<StoredObject> existing = store_.object(session.user_id, "auto_swipe", id);
  JsonPtr merged = existing ? json_parse(existing->doc) : JsonPtr(json_object());
  json_object_update(merged.get(), const_cast<json_t*>(rule));
  json_put(merged.get(), "user_id", json_string(session.user_id.c_str()));
  if (json_is_integer(json_object_get(params, "action")))
    json_put(merged.get(), "state", json_integer(member_int(params, "action")));
  if (json_is_integer(json_object_get(params, "count")))
    json_put(merged.get(), "count", json_integer(member_int(params, "count")));
  json_put(merged.get(), "last_action", json_integer(now_ms()));
  const int64_t saved_at = store_.save(session.user_id, "auto_swipe", id, merged.get());
  out.result =
      JsonPtr(json_pack("{s:s, s:I}", "_id", id.c_str(), "saved_at", static_cast<json_int_t>(saved_at)));
  push_document(out, session.user_id, merged.get(), "auto_swipe");
}

std::string SyncService::store_new_mail(Outcome& out, const NewMail& mail) {
  JsonPtr mailbox = json_parse(store_.record("mailbox", mail.account_id).value_or(StoredRecord{}).doc);
  const int64_t now = now_ms();
  std::optional<StoredObject> existing;
  if (!mail.item_id.empty()) existing = store_.object(mail.account_id, "item", mail.item_id);
  const std::string item_id = existing ? mail.item_id : random_uuid();
  const std::string email_id = random_uuid();
  JsonPtr item;
  if (existing) {
    // The conversation comes back to the inbox with the new e-mail.
    item = json_parse(existing->doc);
    json_put(item.get(), "state", json_integer(2));
    json_put(item.get(), "modified_at", json_integer(now));
  } else {
    item = JsonPtr(json_pack("{s:s, s:s, s:s, s:i, s:i, s:I, s:I}", "_id", item_id.c_str(), "acct_id",
                             mail.account_id.c_str(), "subject", mail.subject.c_str(), "type", 1, "state", 2,
                             "created_at", static_cast<json_int_t>(now), "modified_at",
                             static_cast<json_int_t>(now)));
  }
  JsonPtr email(json_pack(
      "{s:s, s:s, s:s, s:s, s:I, s:s, s:s, s:b, s:s, s:b, s:b, s:b, s:{s:s, s:s}, s:[{s:s, s:s}]}", "_id",
      email_id.c_str(), "acct_id", mail.account_id.c_str(), "p_id", item_id.c_str(), "subject",
      mail.subject.c_str(), "created_at", static_cast<json_int_t>(now), "conversation", mail.html.c_str(),
      "full_conversation", mail.html.c_str(), "is_html", 1, "preview", html_text(mail.html, 120).c_str(),
      "read", 0, "sent", 0, "starred", 0, "from", "name", mail.from_name.c_str(), "address",
      mail.from_address.c_str(), "to", "name", member_string(mailbox.get(), "name").c_str(), "address",
      member_string(mailbox.get(), "data").c_str()));
  store_.save(mail.account_id, "item", item_id, item.get());
  store_.save(mail.account_id, "email", email_id, email.get());
  push_document(out, mail.account_id, item.get(), "item");
  push_document(out, mail.account_id, email.get(), "email");
  return item_id;
}

}  // namespace sync_server
