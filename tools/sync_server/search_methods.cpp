// Cloud search of a mailbox: every word of the query must occur, in any case, in an e-mail's
// subject, text, sender or recipients. Matches stream back as SEARCH_RESULT_EMAIL batches, then
// their conversations as one SEARCH_RESULT_ITEM, then the final answer; a fetch returns one
// conversation whole.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "tools/sync_server/html_text.h"
#include "tools/sync_server/sync_service.h"

namespace sync_server {

namespace {

constexpr size_t kBatch = 20;
constexpr size_t kMaxResults = 200;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> words(const std::string& query) {
  std::vector<std::string> found;
  std::string word;
  for (char c : lower(query) + " ") {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) found.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return found;
}

// The item state a folder name stands for; -1 for any.
int folder_state(const std::string& folder) {
  static const std::map<std::string, int> kFolders = {
      {"inbox", 2}, {"archive", 3}, {"trash", 4}, {"later", 1}};
  auto found = kFolders.find(lower(folder));
  return found == kFolders.end() ? -1 : found->second;
}

std::string searchable_text(const json_t* email) {
  std::string text = member_string(email, "subject") + " " + html_text(member_string(email, "conversation"));
  const json_t* from = json_object_get(email, "from");
  text += " " + member_string(from, "name") + " " + member_string(from, "address");
  for (const char* field : {"to", "cc"}) {
    size_t index;
    json_t* name;
    json_array_foreach(json_object_get(email, field), index, name) {
      text += " " + member_string(name, "name") + " " + member_string(name, "address");
    }
  }
  return lower(text);
}

}  // namespace

void SyncService::search_prime(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  if (!device_account(session, account_id)) return fail(out, "O1", "not an account of this device");
  out.result = JsonPtr(json_pack("{s:s}", "account_id", account_id.c_str()));
}

void SyncService::search_query(SessionState& session, const json_t* params, Outcome& out) {
  out.error_only_on_failure = true;
  const std::string account_id = member_string(params, "account_id");
  const std::string search_id = member_string(params, "search_id");
  const std::vector<std::string> terms = words(member_string(params, "query"));
  auto refuse = [&](const char* code, const char* message) {
    fail(out, code, message);
    json_put(out.error.get(), "search_id", json_string(search_id.c_str()));
  };
  if (search_id.empty() || terms.empty()) return refuse("P1", "a search needs a search_id and a query");
  if (!device_account(session, account_id)) return refuse("O1", "not an account of this device");
  const int state = folder_state(member_string(params, "folder"));

  std::map<std::string, JsonPtr> items;
  for (const StoredObject& object : store_.objects_since(account_id, "item", 0))
    items.emplace(object.id, json_parse(object.doc));
  std::vector<JsonPtr> emails;
  for (const StoredObject& object : store_.objects_since(account_id, "email", 0)) {
    JsonPtr email = json_parse(object.doc);
    auto item = items.find(member_string(email.get(), "p_id"));
    if (item == items.end()) continue;
    if (state >= 0 && member_int(item->second.get(), "state") != state) continue;
    const std::string text = searchable_text(email.get());
    if (std::all_of(terms.begin(), terms.end(),
                    [&](const std::string& t) { return text.find(t) != std::string::npos; }))
      emails.push_back(std::move(email));
  }
  // Newest first, as a mail search lists them.
  std::stable_sort(emails.begin(), emails.end(), [](const JsonPtr& a, const JsonPtr& b) {
    return member_int(a.get(), "created_at") > member_int(b.get(), "created_at");
  });
  if (emails.size() > kMaxResults) emails.resize(kMaxResults);

  auto streamed = [&](const char* method, const char* key, JsonPtr batch) {
    JsonPtr message(json_pack("{s:s, s:s, s:{s:s, s:s, s:o}}", "type", "SEARCH_QUERY", "method", method,
                              "params", "search_id", search_id.c_str(), "account_id", account_id.c_str(), key,
                              batch.release()));
    out.leading.push_back(json_text(message.get()));
  };
  std::set<std::string> seen;
  JsonPtr threads(json_array());
  for (size_t at = 0; at < emails.size(); at += kBatch) {
    JsonPtr batch(json_array());
    for (size_t i = at; i < std::min(at + kBatch, emails.size()); ++i) {
      json_array_append(batch.get(), emails[i].get());
      const std::string item_id = member_string(emails[i].get(), "p_id");
      if (seen.insert(item_id).second) json_array_append(threads.get(), items[item_id].get());
    }
    streamed("SEARCH_RESULT_EMAIL", "emails", std::move(batch));
  }
  if (json_array_size(threads.get()) > 0) streamed("SEARCH_RESULT_ITEM", "threads", std::move(threads));
  out.result = JsonPtr(json_pack("{s:s, s:s, s:I, s:I}", "search_id", search_id.c_str(), "account_id",
                                 account_id.c_str(), "email_count", static_cast<json_int_t>(emails.size()),
                                 "thread_count", static_cast<json_int_t>(seen.size())));
}

void SyncService::search_fetch(SessionState& session, const json_t* params, Outcome& out) {
  const std::string account_id = member_string(params, "account_id");
  const std::string search_id = member_string(params, "search_id");
  const std::string thread_id = member_string(params, "thr_id");
  auto refuse = [&](const char* code, const char* message) {
    fail(out, code, message);
    json_put(out.error.get(), "search_id", json_string(search_id.c_str()));
  };
  if (!device_account(session, account_id)) return refuse("O1", "not an account of this device");
  std::optional<StoredObject> item = store_.object(account_id, "item", thread_id);
  if (!item) return refuse("O2", "no such conversation");
  JsonPtr emails(json_array());
  for (const StoredObject& object : store_.objects_since(account_id, "email", 0)) {
    JsonPtr email = json_parse(object.doc);
    if (member_string(email.get(), "p_id") == thread_id) json_array_append(emails.get(), email.get());
  }
  out.result = JsonPtr(json_pack("{s:s, s:o, s:o}", "search_id", search_id.c_str(), "thread",
                                 json_parse(item->doc).release(), "emails", emails.release()));
}

}  // namespace sync_server
