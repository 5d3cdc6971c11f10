#include "core/model/db_context.h"

#include <utility>

#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/query_updater.h"
#include "core/services/changes_manager.h"
#include "core/store/statement_reset.h"
#include "core/sync/snapshot_server_client.h"

using libkestrun::SqlSchema;
using libkestrun::internal::ResetOnUnwind;

std::string DBContext::database_name(const std::string& directory, const std::string& file_name,
                                     bool in_memory) {
  return SqlSchema::database_name(directory, file_name, in_memory);
}

void DBContext::set_key(CppSQLite3DB& db, const std::string& install_key) {
  SqlSchema::set_key(db, install_key);
}

void DBContext::create_tables(CppSQLite3DB& db) { SqlSchema::create_tables(db); }

void DBContext::drop_tables(CppSQLite3DB& db) { SqlSchema::drop_tables(db); }

void DBContext::check_schema_version(const std::string& name, bool in_memory,
                                     const std::optional<std::string>& key,
                                     const std::function<void()>& reset) {
  SqlSchema::check_schema_version(name, in_memory, key, reset);
}

DBContext::DBContext() : KestrunContext(kPersistentKind) {}

// The statements go before the connection, which the members' order already ensures; finalizing
// here first keeps the order explicit and the close able to succeed.
DBContext::~DBContext() { finalize(); }

void DBContext::open(const std::string& path, const std::optional<std::string>& key) {
  db_.open(path.c_str());
  if (key) SqlSchema::set_key(db_, *key);
  prepare();
}

void DBContext::prepare() {
  using namespace libkestrun::internal;
  autoSwipeQuery_ = Query<AutoSwipe>(db_);
  bccQuery_ = Query<BccEmails>(db_);
  ccQuery_ = Query<CcEmails>(db_);
  toQuery_ = Query<ToEmails>(db_);
  emailQuery_ = Query<Email>(db_);
  itemQuery_ = Query<Item>(db_);
  listQuery_ = Query<UserList>(db_);
  accountListQuery_ = Query<List>(db_);
  contactQuery_ = Query<LocalContact>(db_);
  draftQuery_ = Query<Draft>(db_);

  QueryBuilder<Draft> drafts;
  drafts.select_all().where(DraftAttr::item_id);
  draftsByItem_ = drafts.build_stmt(db_);

  auto removal = [this]<class Row>(Removal<Row>& target, typename Row::attr_type column) {
    QueryBuilder<Row> builder;
    builder.where(column);
    target = builder.build_remove_stmt(db_);
  };
  removal(removeAccountListByID_, ListAttr::LISTID);
  removal(removeDraftsByUser_, DraftAttr::user_id);
  removal(removeAutoSwipesByUser_, AutoSwipeAttr::USERID);
  removal(removeToByEmail_, ToEmailsAttr::EMAILID);
  removal(removeCcByEmail_, CcEmailsAttr::EMAILID);
  removal(removeBccByEmail_, BccEmailsAttr::EMAILID);
  removal(removeItemsByAccount_, ItemAttr::ACCOUNTID);
  removal(removeAccountListsByAccount_, ListAttr::ACCOUNTID);
  removal(removeEmailsByAccount_, EmailAttr::ACCOUNTID);

  for (const libkestrun::DbSqlText& text : libkestrun::db_sql_texts())
    sql(text.id) = db_.compileStatement(text.sql);
}

void DBContext::finalize() {
  auto release = []<class Member>(Member& member) { member = Member(); };
  for (auto it = fixed_.rbegin(); it != fixed_.rend(); ++it) it->finalize();
  release(draftsByItem_);
  release(removeEmailsByAccount_);
  release(removeAccountListsByAccount_);
  release(removeItemsByAccount_);
  release(removeBccByEmail_);
  release(removeCcByEmail_);
  release(removeToByEmail_);
  release(removeAutoSwipesByUser_);
  release(removeDraftsByUser_);
  release(removeAccountListByID_);
  release(draftQuery_);
  release(contactQuery_);
  release(accountListQuery_);
  release(listQuery_);
  release(itemQuery_);
  release(emailQuery_);
  release(toQuery_);
  release(ccQuery_);
  release(bccQuery_);
  release(autoSwipeQuery_);
}

void DBContext::close() {
  finalize();
  db_.close();
}

void DBContext::commit(ChangeSet& changes) {
  if (pending().empty()) return;
  const ChangeSet given = changes;
  db_.execDML("BEGIN TRANSACTION;");
  try {
    for (const auto& object : pending().take()) {
      if (object->isDeleted()) uncacheObject(object->tableName(), object->id(), *object);
      object->save();
      recordChange(changes, object);
    }
    db_.execDML("END TRANSACTION;");
  } catch (...) {
    // Left open, the transaction would make every later BEGIN fail and keep the half-written rows
    // visible to this connection alone. Some failures end it already; then there is nothing to undo.
    try {
      if (!db_.isAutoCommit()) db_.execDML("ROLLBACK TRANSACTION;");
    } catch (...) {
    }
    reset();
    changes = given;
    throw;
  }
  libkestrun::query_updater_update_queries(changes, false);
}

void DBContext::recreate() {
  SqlSchema::drop_tables(db_);
  SqlSchema::create_tables(db_);
  libkestrun::internal::snapshot_server_client_reset_last_snapshot_sync();
  libkestrun::changes_manager_clear();
}

template <class T>
std::shared_ptr<T> DBContext::cache_fetch(const std::string& table, const std::string& id) const {
  if (id.empty()) return nullptr;
  return std::static_pointer_cast<T>(cachedObject(table, id));
}

std::shared_ptr<KestrunObject> DBContext::objectForRow(const std::string& table, CppSQLite3Query& query) {
  std::shared_ptr<KestrunObject> object;
  if (table == "KSITEM") {
    object = std::make_shared<KSItem>(this, query);
  } else if (table == "KSEMAIL") {
    object = std::make_shared<KSEmail>(this, query);
  } else if (table == "KSCONTACT") {
    object = std::make_shared<KSContact>(this, query);
  } else if (table == "KSAUTOSWIPE") {
    object = std::make_shared<KSAutoSwipe>(this, query);
  } else if (table == "KSLIST") {
    object = std::make_shared<KSList>(this, query);
  } else if (table == "KSACCOUNTLIST") {
    object = std::make_shared<KSAccountList>(this, query);
  } else {
    return nullptr;
  }
  if (auto cached = cachedObject(table, object->id())) return cached;
  cacheObject(object);
  return object;
}

template <class T>
std::shared_ptr<T> DBContext::fetchObject(const std::string& table, CppSQLite3Statement& statement,
                                          const std::string& id) {
  if (auto cached = cache_fetch<T>(table, id)) return cached;
  if (id.empty()) {
    statement.reset();
    return nullptr;
  }
  statement.bind(1, id.data(), static_cast<int>(id.size()));
  ResetOnUnwind unwind(statement);
  std::shared_ptr<KestrunObject> object;
  {
    CppSQLite3Query query = statement.execQuery();
    if (!query.eof()) object = objectForRow(table, query);
  }
  statement.reset();
  return std::static_pointer_cast<T>(object);
}

template <class T>
KSObjects<T> DBContext::fetchObjects(const std::string& table, CppSQLite3Statement& statement) {
  auto objects = std::make_shared<std::vector<std::shared_ptr<T>>>();
  ResetOnUnwind unwind(statement);
  {
    CppSQLite3Query query = statement.execQuery();
    while (!query.eof()) {
      if (auto object = objectForRow(table, query)) objects->push_back(std::static_pointer_cast<T>(object));
      query.nextRow();
    }
  }
  statement.reset();
  return objects;
}

template <class T, class Row>
std::shared_ptr<T> DBContext::fetch_through(const std::string& table, const std::string& id,
                                            Query<Row>& query) {
  if (id.empty()) return nullptr;
  if (auto cached = cache_fetch<T>(table, id)) return cached;
  std::optional<Row> row = query.fetch_by_id(id);
  if (!row) return nullptr;
  auto object = std::make_shared<T>(this, *row);
  object->setInserted(false);
  cacheObject(object);
  return object;
}

// The instances the model uses.
template std::shared_ptr<KSItem> DBContext::cache_fetch<KSItem>(const std::string&, const std::string&) const;
template std::shared_ptr<KSEmail> DBContext::cache_fetch<KSEmail>(const std::string&,
                                                                  const std::string&) const;
template std::shared_ptr<KestrunObject> DBContext::fetchObject<KestrunObject>(const std::string&,
                                                                              CppSQLite3Statement&,
                                                                              const std::string&);
template KSObjects<KSItem> DBContext::fetchObjects<KSItem>(const std::string&, CppSQLite3Statement&);
template KSObjects<KSEmail> DBContext::fetchObjects<KSEmail>(const std::string&, CppSQLite3Statement&);
template std::shared_ptr<KSContact> DBContext::fetchObject<KSContact>(const std::string&, CppSQLite3Statement&,
                                                                      const std::string&);
template KSObjects<KSContact> DBContext::fetchObjects<KSContact>(const std::string&, CppSQLite3Statement&);
template std::shared_ptr<KSAutoSwipe> DBContext::fetchObject<KSAutoSwipe>(const std::string&,
                                                                          CppSQLite3Statement&,
                                                                          const std::string&);
template KSObjects<KSAutoSwipe> DBContext::fetchObjects<KSAutoSwipe>(const std::string&,
                                                                     CppSQLite3Statement&);
template std::shared_ptr<KSList> DBContext::fetchObject<KSList>(const std::string&, CppSQLite3Statement&,
                                                                const std::string&);
template KSObjects<KSList> DBContext::fetchObjects<KSList>(const std::string&, CppSQLite3Statement&);
template std::shared_ptr<KSAccountList> DBContext::fetchObject<KSAccountList>(const std::string&,
                                                                              CppSQLite3Statement&,
                                                                              const std::string&);
template KSObjects<KSAccountList> DBContext::fetchObjects<KSAccountList>(const std::string&,
                                                                         CppSQLite3Statement&);
template KSObjects<KestrunObject> DBContext::fetchObjects<KestrunObject>(const std::string&,
                                                                         CppSQLite3Statement&);
template std::shared_ptr<KSItem> DBContext::fetch_through<KSItem>(const std::string&, const std::string&,
                                                                  Query<libkestrun::internal::Item>&);
template std::shared_ptr<KSEmail> DBContext::fetch_through<KSEmail>(const std::string&, const std::string&,
                                                                    Query<libkestrun::internal::Email>&);
