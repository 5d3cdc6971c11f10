#include "tools/sync_server/sync_store.h"

#include <algorithm>
#include <chrono>

namespace sync_server {

namespace {

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS records (space TEXT NOT NULL, key TEXT NOT NULL, parent TEXT NOT NULL,"
    " doc TEXT NOT NULL, PRIMARY KEY (space, key));"
    "CREATE INDEX IF NOT EXISTS records_parent ON records (space, parent);"
    "CREATE TABLE IF NOT EXISTS objects (owner TEXT NOT NULL, kind TEXT NOT NULL, id TEXT NOT NULL,"
    " saved_at INTEGER NOT NULL, doc TEXT NOT NULL, PRIMARY KEY (owner, kind, id));"
    "CREATE INDEX IF NOT EXISTS objects_saved ON objects (owner, kind, saved_at);"
    "CREATE TABLE IF NOT EXISTS requests (user_id TEXT NOT NULL, request_id TEXT NOT NULL,"
    " reply TEXT NOT NULL, PRIMARY KEY (user_id, request_id));"
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);";

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// One prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(SyncStore& store, const char* sql) : db_(store.db_) {
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) fail("prepare");
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, const std::string& text) {
    if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
      fail("bind");
    return *this;
  }
  Statement& bind(int index, int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail("bind");
    return *this;
  }
  // True while a row is ready.
  bool step() {
    int result = sqlite3_step(stmt_);
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) fail("step");
    return false;
  }
  std::string text(int column) {
    const unsigned char* data = sqlite3_column_text(stmt_, column);
    return data ? std::string(reinterpret_cast<const char*>(data), sqlite3_column_bytes(stmt_, column)) : "";
  }
  int64_t integer(int column) { return sqlite3_column_int64(stmt_, column); }

 private:
  [[noreturn]] void fail(const char* what) {
    throw StoreError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db_));
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

SyncStore::SyncStore(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw StoreError("cannot open " + path + ": " + message);
  }
  // An acknowledged change must survive the process being killed right after the reply.
  exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  exec(kSchema);
  if (std::optional<std::string> clock = meta("clock")) last_saved_at_ = std::stoll(*clock);
}

SyncStore::~SyncStore() { sqlite3_close(db_); }

void SyncStore::exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw StoreError("sqlite exec: " + message);
  }
}

SyncStore::Transaction::Transaction(SyncStore& store) : store_(store) { store_.exec("BEGIN IMMEDIATE"); }

SyncStore::Transaction::~Transaction() {
  if (done_) return;
  char* error = nullptr;
  sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, &error);
  sqlite3_free(error);
  // The clock may have moved inside the rolled-back transaction; reading it back keeps it honest.
  // Should that fail too, the clock stays ahead, which only skips some save times.
  try {
    if (std::optional<std::string> clock = store_.meta("clock")) store_.last_saved_at_ = std::stoll(*clock);
  } catch (const std::exception&) {
  }
}

void SyncStore::Transaction::commit() {
  store_.exec("COMMIT");
  done_ = true;
}

int64_t SyncStore::next_saved_at() {
  last_saved_at_ = std::max(now_ms(), last_saved_at_ + 1);
  set_meta("clock", std::to_string(last_saved_at_));
  return last_saved_at_;
}

std::optional<std::string> SyncStore::meta(const std::string& key) {
  Statement statement(*this, "SELECT value FROM meta WHERE key = ?");
  statement.bind(1, key);
  if (!statement.step()) return std::nullopt;
  return statement.text(0);
}

void SyncStore::set_meta(const std::string& key, const std::string& value) {
  Statement statement(*this, "INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)");
  statement.bind(1, key).bind(2, value).step();
}

std::optional<StoredRecord> SyncStore::record(const std::string& space, const std::string& key) {
  Statement statement(*this, "SELECT parent, doc FROM records WHERE space = ? AND key = ?");
  statement.bind(1, space).bind(2, key);
  if (!statement.step()) return std::nullopt;
  return StoredRecord{key, statement.text(0), statement.text(1)};
}

void SyncStore::put_record(const std::string& space, const std::string& key, const std::string& parent,
                           const std::string& doc) {
  Statement statement(*this, "INSERT OR REPLACE INTO records (space, key, parent, doc) VALUES (?, ?, ?, ?)");
  statement.bind(1, space).bind(2, key).bind(3, parent).bind(4, doc).step();
}

void SyncStore::remove_record(const std::string& space, const std::string& key) {
  Statement statement(*this, "DELETE FROM records WHERE space = ? AND key = ?");
  statement.bind(1, space).bind(2, key).step();
}

std::vector<StoredRecord> SyncStore::records_of(const std::string& space, const std::string& parent) {
  Statement statement(*this, "SELECT key, doc FROM records WHERE space = ? AND parent = ? ORDER BY rowid");
  statement.bind(1, space).bind(2, parent);
  std::vector<StoredRecord> records;
  while (statement.step()) records.push_back({statement.text(0), parent, statement.text(1)});
  return records;
}

void SyncStore::reparent_records(const std::string& from, const std::string& to) {
  Statement statement(*this, "UPDATE records SET parent = ? WHERE parent = ?");
  statement.bind(1, to).bind(2, from).step();
}

std::optional<StoredObject> SyncStore::object(const std::string& owner, const std::string& kind,
                                              const std::string& id) {
  Statement statement(*this, "SELECT saved_at, doc FROM objects WHERE owner = ? AND kind = ? AND id = ?");
  statement.bind(1, owner).bind(2, kind).bind(3, id);
  if (!statement.step()) return std::nullopt;
  return StoredObject{owner, kind, id, statement.integer(0), statement.text(1)};
}

void SyncStore::put_object(const StoredObject& object) {
  Statement statement(
      *this, "INSERT OR REPLACE INTO objects (owner, kind, id, saved_at, doc) VALUES (?, ?, ?, ?, ?)");
  statement.bind(1, object.owner).bind(2, object.kind).bind(3, object.id).bind(4, object.saved_at);
  statement.bind(5, object.doc).step();
}

int64_t SyncStore::save(const std::string& owner, const std::string& kind, const std::string& id,
                        json_t* doc) {
  const int64_t saved_at = next_saved_at();
  json_put(doc, "saved_at", json_integer(saved_at));
  put_object({owner, kind, id, saved_at, json_text(doc)});
  return saved_at;
}

std::vector<StoredObject> SyncStore::objects_since(const std::string& owner, const std::string& kind,
                                                   int64_t since) {
  Statement statement(*this,
                      "SELECT id, saved_at, doc FROM objects WHERE owner = ? AND kind = ? AND saved_at > ?"
                      " ORDER BY saved_at");
  statement.bind(1, owner).bind(2, kind).bind(3, since);
  std::vector<StoredObject> objects;
  while (statement.step())
    objects.push_back({owner, kind, statement.text(0), statement.integer(1), statement.text(2)});
  return objects;
}

void SyncStore::reown_objects(const std::string& from, const std::string& to) {
  Statement statement(*this, "UPDATE objects SET owner = ? WHERE owner = ?");
  statement.bind(1, to).bind(2, from).step();
}

std::optional<std::string> SyncStore::applied_reply(const std::string& user_id,
                                                    const std::string& request_id) {
  Statement statement(*this, "SELECT reply FROM requests WHERE user_id = ? AND request_id = ?");
  statement.bind(1, user_id).bind(2, request_id);
  if (!statement.step()) return std::nullopt;
  return statement.text(0);
}

void SyncStore::record_reply(const std::string& user_id, const std::string& request_id,
                             const std::string& reply) {
  Statement statement(*this, "INSERT OR REPLACE INTO requests (user_id, request_id, reply) VALUES (?, ?, ?)");
  statement.bind(1, user_id).bind(2, request_id).bind(3, reply).step();
}

void SyncStore::reown_replies(const std::string& from, const std::string& to) {
  Statement statement(*this, "UPDATE requests SET user_id = ? WHERE user_id = ?");
  statement.bind(1, to).bind(2, from).step();
}

}  // namespace sync_server
