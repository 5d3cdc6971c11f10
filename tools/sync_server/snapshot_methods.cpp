// Snapshots of an account and of the user's drafts, draft saves and removals, and the pages of
// auto-swipe rules.
#include <algorithm>
#include <climits>
#include <map>

#include "tools/sync_server/sync_service.h"

namespace sync_server {

namespace {

const char* const kAccountKinds[] = {"item", "email", "list"};

// The request's "since"; 0 when it is missing or not a usable save time.
int64_t since_of(const json_t* state) {
  const double since = member_number(state, "since");
  return since > 0 && since < 9.2e18 ? static_cast<int64_t>(since) : 0;
}

// The objects of `owner` and `kind` saved after the request's "since", without those the client
// says it already holds in that version or a later one ("exclude_ids": id to saved_at).
std::vector<StoredObject> changed_since(SyncStore& store, const std::string& owner, const std::string& kind,
                                        const json_t* state) {
  const json_t* exclude = json_object_get(state, "exclude_ids");
  std::vector<StoredObject> objects = store.objects_since(owner, kind, since_of(state));
  objects.erase(std::remove_if(objects.begin(), objects.end(),
                               [&](const StoredObject& object) {
                                 const json_t* held = json_object_get(exclude, object.id.c_str());
                                 return json_is_number(held) && json_number_value(held) >= object.saved_at;
                               }),
                objects.end());
  return objects;
}

}  // namespace

void SyncService::account_snapshot(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  JsonPtr account = device_account(session, account_id);
  if (!account) {
    fail(out, "U0", "not an account of this device");
    json_put(out.error.get(), "account_id", json_string(account_id.c_str()));
    return;
  }
  const json_t* sync_state = json_object_get(params, "sync_state");
  std::vector<StoredObject> objects;
  for (const char* kind : kAccountKinds) {
    std::vector<StoredObject> changed =
        changed_since(store_, account_id, kind, json_object_get(sync_state, kind));
    objects.insert(objects.end(), changed.begin(), changed.end());
  }
  std::sort(objects.begin(), objects.end(),
            [](const StoredObject& a, const StoredObject& b) { return a.saved_at < b.saved_at; });

  // The reply holds the oldest saves up to the size limit; the later ones follow as documents, so
  // every token the reply carries lies below every save it left out.
  JsonPtr docs(json_object());
  JsonPtr tokens(json_object());
  for (const char* kind : kAccountKinds) {
    json_put(docs.get(), kind, json_array());
    json_put(tokens.get(), kind, json_integer(0));
  }
  size_t bytes = 0;
  bool full = false;
  for (const StoredObject& object : objects) {
    JsonPtr doc = json_parse(object.doc);
    full = full || bytes + object.doc.size() + 1 > max_reply_bytes_;
    if (full) {
      JsonPtr push(json_object());
      json_put(push.get(), "doc", doc.release());
      json_put(push.get(), "doc_type", json_string(object.kind.c_str()));
      out.pushes.emplace_back("", notification("DOCUMENT", std::move(push)));
      continue;
    }
    bytes += object.doc.size() + 1;
    json_array_append_new(json_object_get(docs.get(), object.kind.c_str()), doc.release());
    json_put(tokens.get(), object.kind.c_str(), json_integer(object.saved_at));
  }
  out.result = JsonPtr(json_object());
  json_put(out.result.get(), "account_id", json_string(account_id.c_str()));
  json_put(out.result.get(), "docs", docs.release());
  json_put(out.result.get(), "sync_state", tokens.release());

  out.pushes.emplace_back("", account_status(account_id));

  // A newly added account reports its first inbox and archive sync once, after its first snapshot.
  if (member_bool(account.get(), "initial_sync_pending")) {
    for (const char* location : {"INBOX", "ARCHIVE"})
      out.pushes.emplace_back(
          "", notification("INITIAL_SYNC_DONE", JsonPtr(json_pack("{s:s, s:s}", "acct_id", account_id.c_str(),
                                                                  "location", location))));
    json_put(account.get(), "initial_sync_pending", json_false());
    put_user_account(session.user_id, account_id, account.get());
  }
}

std::string SyncService::account_status(const std::string& account_id) {
  int64_t active = 0, completed = 0, deleted = 0, sent = 0;
  std::map<std::string, int64_t> by_list;
  for (const StoredObject& object : store_.objects_since(account_id, "item", 0)) {
    JsonPtr item = json_parse(object.doc);
    switch (member_int(item.get(), "state")) {
      case 2:
        ++active;
        break;
      case 3:
        ++completed;
        break;
      case 4:
        ++deleted;
        break;
      case 5:
        ++by_list[member_string(item.get(), "list_id")];
        break;
      default:
        break;
    }
  }
  for (const StoredObject& object : store_.objects_since(account_id, "email", 0))
    sent += member_bool(json_parse(object.doc).get(), "sent");
  JsonPtr lists(json_array());
  for (const StoredObject& object : store_.objects_since(account_id, "list", 0)) {
    JsonPtr list = json_parse(object.doc);
    if (member_bool(list.get(), "_deleted")) continue;
    json_array_append_new(
        lists.get(), json_pack("{s:s, s:I, s:b}", "name", member_string(list.get(), "name").c_str(), "count",
                               static_cast<json_int_t>(by_list[object.id]), "exact", 1));
  }
  auto count = [](int64_t n) {
    return json_pack("{s:I, s:b}", "count", static_cast<json_int_t>(n), "exact", 1);
  };
  JsonPtr params(json_pack("{s:s, s:{s:o, s:o, s:o, s:o, s:o}, s:[], s:b}", "acct_id", account_id.c_str(),
                           "counts", "active", count(active), "completed", count(completed), "deleted",
                           count(deleted), "sent", count(sent), "lists", lists.release(), "health",
                           "missingSpam", 0));
  return notification("ACCOUNT_STATUS", std::move(params));
}

void SyncService::user_snapshot(SessionState& session, const json_t* params, Outcome& out) {
  const json_t* state = json_object_get(json_object_get(params, "sync_state"), "user_item");
  JsonPtr items(json_array());
  // The client stores this token as it comes, so with nothing newer it is told the one it sent:
  // a 0 would make its next snapshot fetch every draft again.
  int64_t token = since_of(state);
  for (const StoredObject& object : changed_since(store_, session.user_id, "user_item", state)) {
    json_array_append_new(items.get(), json_parse(object.doc).release());
    token = object.saved_at;
  }
  out.result =
      JsonPtr(json_pack("{s:s, s:{s:I}, s:{s:o}}", "user_id", session.user_id.c_str(), "sync_state",
                        "user_item", static_cast<json_int_t>(token), "docs", "user_item", items.release()));
}

void SyncService::user_item_save(SessionState& session, const json_t* params, Outcome& out) {
  const std::string id = member_string(params, "_id");
  const json_t* data = json_object_get(params, "data");
  const json_t* version = json_object_get(params, "version");
  if (id.empty() || !json_is_object(data) || !json_is_object(version))
    return fail(out, "P1", "a user item needs an _id, a version and data");
  JsonPtr doc(json_pack("{s:s, s:I, s:s, s:O, s:O}", "_id", id.c_str(), "type",
                        static_cast<json_int_t>(member_int(params, "type", 1)), "user_id",
                        session.user_id.c_str(), "version", version, "data", data));
  save_user_item(session, id, std::move(doc), out);
}

void SyncService::user_item_remove(SessionState& session, const json_t* params, Outcome& out) {
  const std::string id = member_string(params, "_id");
  const json_t* version = json_object_get(params, "version");
  if (id.empty()) return fail(out, "P1", "a user item needs an _id");
  JsonPtr doc(json_pack("{s:s, s:i, s:b, s:s, s:o}", "_id", id.c_str(), "type", 1, "removed", 1, "user_id",
                        session.user_id.c_str(), "version",
                        json_is_object(version) ? json_deep_copy(version) : json_object()));
  save_user_item(session, id, std::move(doc), out);
}

namespace {

// Version clocks: one counter per device. `a` is covered by `b` when every counter of `a` is in `b`
// and no greater there.
bool covered_by(const json_t* a, const json_t* b) {
  const char* device;
  json_t* counter;
  json_object_foreach(const_cast<json_t*>(a), device, counter) {
    if (member_int(b, device, -1) < member_int(a, device)) return false;
  }
  return true;
}

}  // namespace

// A save or removal whose version the stored one already covers was overtaken on another device
// (the client resends queued drafts after every reconnection); applying it would bring back an
// older draft. It is acknowledged, and the sender is sent the version that stands.
void SyncService::save_user_item(SessionState& session, const std::string& id, JsonPtr doc, Outcome& out) {
  if (std::optional<StoredObject> stored = store_.object(session.user_id, "user_item", id)) {
    JsonPtr current = json_parse(stored->doc);
    if (covered_by(json_object_get(doc.get(), "version"), json_object_get(current.get(), "version"))) {
      out.result = JsonPtr(
          json_pack("{s:s, s:I}", "_id", id.c_str(), "saved_at", static_cast<json_int_t>(stored->saved_at)));
      JsonPtr params(json_object());
      json_put(params.get(), "doc", current.release());
      json_put(params.get(), "doc_type", json_string("user_item"));
      out.pushes.emplace_back("", notification("DOCUMENT", std::move(params)));
      return;
    }
  }
  const int64_t saved_at = store_.save(session.user_id, "user_item", id, doc.get());
  out.result =
      JsonPtr(json_pack("{s:s, s:I}", "_id", id.c_str(), "saved_at", static_cast<json_int_t>(saved_at)));
  push_document(out, session.user_id, doc.get(), "user_item");
}

void SyncService::auto_swipe_rules_get(SessionState& session, const json_t* params, Outcome& out) {
  const int64_t limit = std::clamp<int64_t>(member_int(params, "limit", 100), 1, 1000);
  const double before = member_number(params, "before", static_cast<double>(LLONG_MAX));
  std::vector<std::pair<int64_t, JsonPtr>> rules;
  JsonPtr counts(json_object());
  for (const StoredObject& object : store_.objects_since(session.user_id, "auto_swipe", 0)) {
    JsonPtr rule = json_parse(object.doc);
    const std::string state = std::to_string(member_int(rule.get(), "state"));
    json_put(counts.get(), state.c_str(),
             json_integer(member_int(counts.get(), state.c_str()) + member_int(rule.get(), "count")));
    const int64_t last_action = member_int(rule.get(), "last_action");
    if (static_cast<double>(last_action) < before) rules.emplace_back(last_action, std::move(rule));
  }
  std::stable_sort(rules.begin(), rules.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  JsonPtr page(json_array());
  for (size_t i = 0; i < rules.size() && static_cast<int64_t>(i) < limit; ++i)
    json_array_append(page.get(), rules[i].second.get());
  out.result = JsonPtr(json_pack("{s:s, s:o, s:o}", "user_id", session.user_id.c_str(), "user",
                                 counts.release(), "rules", page.release()));
}

}  // namespace sync_server
