#include "core/store/db_schema.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "brelt/log.h"
#include "core/foundation/file_utility.h"
#include "core/store/cpp_sqlite3.h"

namespace libkestrun {
namespace {

struct Column {
  const char* name;
  const char* type;
};

struct Table {
  const char* name;
  std::vector<Column> columns;
  std::vector<const char*> key;
};

struct Index {
  const char* name;
  const char* table;
  std::vector<const char*> columns;  // " desc" after a descending column
};

// Column order is format: a column's position is its place in the row record and its placeholder
// number minus one.
const std::vector<Table>& tables() {
  static const std::vector<Table> kTables = {
      {"KSACCOUNTLIST",
       {{"LISTID", "TEXT"},
        {"ACCOUNTID", "TEXT"},
        {"CREATEDAT", "INTEGER"},
        {"LOADEDONCE", "BOOLEAN"},
        {"MPARENTLISTID", "TEXT"},
        {"NAME", "TEXT"},
        {"SAVEDAT", "INTEGER"},
        {"SYNCDATA", "TEXT"}},
       {"LISTID"}},
      {"KSLIST",
       {{"LISTID", "TEXT"}, {"NAME", "TEXT"}, {"LISTCOUNT", "INTEGER"}, {"ORDERKEY", "INTEGER"}},
       {"LISTID"}},
      {"KSCONTACT",
       {{"CONTACTID", "TEXT"},
        {"EMAILADDRESS", "TEXT"},
        {"FULLDISPLAYNAME", "TEXT"},
        {"ISPRIORITYACCESS", "BOOLEAN"},
        {"NAME", "TEXT"},
        {"SCORE", "INTEGER"},
        {"SHORTDISPLAYNAME", "TEXT"}},
       {"CONTACTID"}},
      {"KSEMAIL",
       {{"EMAILID", "TEXT"},          {"ACCOUNTID", "TEXT"},         {"BADCONVO", "BOOLEAN"},
        {"BADCONVOREASON", "TEXT"},   {"CONVERSATION", "TEXT"},      {"CONVERSATIONISHTML", "BOOLEAN"},
        {"CREATEDAT", "INTEGER"},     {"FULLBODY", "TEXT"},          {"FULLBODYISHTML", "BOOLEAN"},
        {"FULLCONVERSATION", "TEXT"}, {"HASATTACHMENTS", "BOOLEAN"}, {"HASFULLBODY", "BOOLEAN"},
        {"LOADEDONCE", "BOOLEAN"},    {"MREPLYTOID", "TEXT"},        {"MFROMID", "TEXT"},
        {"PARENTITEMID", "TEXT"},     {"PREVIEW", "TEXT"},           {"READ", "BOOLEAN"},
        {"SAVEDAT", "INTEGER"},       {"SENDSTATE", "INTEGER"},      {"SENT", "BOOLEAN"},
        {"SERVERSTYLINGS", "TEXT"},   {"STARRED", "BOOLEAN"},        {"SUBJECT", "TEXT"},
        {"SYNCDATA", "TEXT"}},
       {"EMAILID"}},
      // DRAFTIDS stands between THREADHASATTACHMENTS and THREADHASEMAILS.
      {"KSITEM",
       {{"ITEMID", "TEXT"},
        {"ACCOUNTID", "TEXT"},
        {"AGGREGATECONVO", "TEXT"},
        {"AUTOSWIPEFIELD", "INTEGER"},
        {"AUTOSWIPEITEMSTATE", "INTEGER"},
        {"AUTOSWIPESTATE", "INTEGER"},
        {"CREATEDAT", "INTEGER"},
        {"DEFERRALBUCKET", "INTEGER"},
        {"DEFERRALTYPE", "INTEGER"},
        {"DEFERREAD", "BOOLEAN"},
        {"EMAILCOUNT", "INTEGER"},
        {"LISTID", "TEXT"},
        {"LOADEDONCE", "BOOLEAN"},
        {"MACCOUNTLISTID", "TEXT"},
        {"MAUTOSWIPEID", "TEXT"},
        {"MLISTID", "TEXT"},
        {"MASTERREV", "REAL"},
        {"MODIFIEDAT", "INTEGER"},
        {"PREVIOUSSTATE", "INTEGER"},
        {"REMINDAT", "INTEGER"},
        {"SAVEDAT", "INTEGER"},
        {"SNOOZETYPE", "INTEGER"},
        {"STATE", "INTEGER"},
        {"SUBJECT", "TEXT"},
        {"SYNCDATA", "TEXT"},
        {"THREADHASATTACHMENTS", "BOOLEAN"},
        {"DRAFTIDS", "TEXT"},
        {"THREADHASEMAILS", "BOOLEAN"},
        {"THREADPREVIEW", "TEXT"},
        {"THREADREAD", "BOOLEAN"},
        {"THREADRECEIVERS", "TEXT"},
        {"THREADSTARRED", "BOOLEAN"},
        {"THREADSTARREDCOUNT", "INTEGER"},
        {"THREADTIMESTAMP", "INTEGER"},
        {"THREADUNREADCOUNT", "INTEGER"},
        {"THREADUNSENTCOUNT", "INTEGER"},
        {"THREADSENDERS", "TEXT"},
        {"TYPE", "INTEGER"}},
       {"ITEMID"}},
      {"KSAUTOSWIPE",
       {{"AUTOSWIPEID", "TEXT"},
        {"AUXILIARYINFO", "TEXT"},
        {"COUNT", "INTEGER"},
        {"DEFERRALDATA", "TEXT"},
        {"DEFERRALTYPE", "INTEGER"},
        {"FIELD", "INTEGER"},
        {"ITEMSTATE", "INTEGER"},
        {"LASTACTIONAT", "INTEGER"},
        {"LISTNAME", "TEXT"},
        {"STATE", "INTEGER"},
        {"USERID", "TEXT"},
        {"VALUE", "TEXT"}},
       {"AUTOSWIPEID"}},
      {"BCCEMAILS", {{"CONTACTID", "TEXT"}, {"EMAILID", "TEXT"}}, {"CONTACTID", "EMAILID"}},
      {"CCEMAILS", {{"CONTACTID", "TEXT"}, {"EMAILID", "TEXT"}}, {"CONTACTID", "EMAILID"}},
      {"TOEMAILS", {{"CONTACTID", "TEXT"}, {"EMAILID", "TEXT"}}, {"CONTACTID", "EMAILID"}},
      {"Draft",
       {{"user_id", "TEXT"},
        {"draft_id", "TEXT"},
        {"item_id", "TEXT"},
        {"created_at", "INTEGER"},
        {"modified_at", "INTEGER"},
        {"version", "TEXT"},
        {"base_email_id", "TEXT"},
        {"type", "INTEGER"},
        {"eventual_email_id", "TEXT"},
        {"subject", "TEXT"},
        {"from", "TEXT"},
        {"to", "TEXT"},
        {"cc", "TEXT"},
        {"bcc", "TEXT"},
        {"content", "TEXT"},
        {"plain_content", "TEXT"},
        {"is_full_body", "BOOLEAN"}},
       {"draft_id"}},
  };
  return kTables;
}

const std::vector<Index>& indexes() {
  static const std::vector<Index> kIndexes = {
      {"KSACCOUNTLIST_ACCOUNT_ID_INDEX", "KSACCOUNTLIST", {"ACCOUNTID"}},
      {"KSACCOUNTLIST_MPARENTLISTID_INDEX", "KSACCOUNTLIST", {"MPARENTLISTID"}},
      {"KSLIST_NAME_INDEX", "KSLIST", {"NAME"}},
      {"KSCONTACT_EMAILADDRESS_INDEX", "KSCONTACT", {"EMAILADDRESS"}},
      {"KSEMAIL_ACCOUNTID_INDEX", "KSEMAIL", {"ACCOUNTID"}},
      {"KSEMAIL_CREATEDAT_INDEX", "KSEMAIL", {"CREATEDAT"}},
      {"KSEMAIL_PARENTITEMID_INDEX", "KSEMAIL", {"PARENTITEMID"}},
      {"KSEMAIL_MREPLYTOID_INDEX", "KSEMAIL", {"MREPLYTOID"}},
      {"KSEMAIL_MFROMID_INDEX", "KSEMAIL", {"MFROMID"}},
      {"KSITEM_LISTINBOX_INDEX", "KSITEM", {"ACCOUNTID", "STATE", "MODIFIEDAT desc"}},
      {"KSITEM_SEC_INDEX", "KSITEM", {"STATE", "EMAILCOUNT", "MASTERREV"}},
      {"KSITEM_SMEC_INDEX", "KSITEM", {"STATE", "EMAILCOUNT", "MASTERREV", "MODIFIEDAT desc"}},
      {"KSITEM_ACCOUNTID_INDEX", "KSITEM", {"ACCOUNTID"}},
      {"KSITEM_MACCOUNTLISTID_INDEX", "KSITEM", {"MACCOUNTLISTID"}},
      {"KSITEM_DEFERRALBUCKET_INDEX", "KSITEM", {"DEFERRALBUCKET"}},
      {"KSITEM_EMAILCOUNT_INDEX", "KSITEM", {"EMAILCOUNT"}},
      {"KSITEM_LISTID_INDEX", "KSITEM", {"LISTID"}},
      {"KSITEM_MLISTID_INDEX", "KSITEM", {"MLISTID"}},
      {"KSITEM_MODIFIEDAT_INDEX", "KSITEM", {"MODIFIEDAT desc"}},
      {"KSITEM_STATE_INDEX", "KSITEM", {"STATE"}},
      {"KSITEM_THREADTIMESTAMP_INDEX", "KSITEM", {"THREADTIMESTAMP"}},
      {"draft_modified_at_index", "Draft", {"modified_at desc"}},
      {"draft_item_id_index", "Draft", {"item_id"}},
  };
  return kIndexes;
}

std::string quoted(const std::string& name) { return "`" + name + "`"; }

std::string joined(const std::vector<const char*>& names) {
  std::string out;
  for (const char* name : names) out += (out.empty() ? "" : ", ") + std::string(name);
  return out;
}

std::vector<std::string> make_create_tables() {
  std::vector<std::string> statements;
  for (const Table& table : tables()) {
    std::string sql = "CREATE TABLE IF NOT EXISTS " + quoted(table.name) + " ( ";
    for (const Column& column : table.columns) sql += quoted(column.name) + " " + column.type + ", ";
    statements.push_back(sql + "PRIMARY KEY (" + joined(table.key) + ") );");
  }
  statements.push_back("PRAGMA user_version(" + std::to_string(SqlSchema::schema_version) + ");");
  return statements;
}

std::vector<std::string> make_create_indexes() {
  std::vector<std::string> statements;
  for (const Index& index : indexes()) {
    statements.push_back("CREATE INDEX IF NOT EXISTS " + quoted(index.name) + " ON " + quoted(index.table) +
                         " (" + joined(index.columns) + ");");
  }
  return statements;
}

std::vector<std::string> make_drop_tables() {
  std::vector<std::string> statements;
  for (const Table& table : tables())
    statements.push_back("DROP TABLE IF EXISTS " + quoted(table.name) + ";");
  return statements;
}

std::vector<std::string> make_drop_indexes() {
  std::vector<std::string> statements;
  for (const Index& index : indexes())
    statements.push_back("DROP INDEX IF EXISTS " + quoted(index.name) + ";");
  return statements;
}

constexpr char kLogTag[] = "DBContext";
constexpr const char* kCompanions[] = {"", "-journal", "-wal", "-shm"};

// Whether a failed reading means the file cannot serve: not a database, under another key, or
// damaged (a damaged schema reads as corrupt too).
bool unreadable(int code) { return code == SQLITE_NOTADB || code == SQLITE_CORRUPT; }

void open_database(CppSQLite3DB& db, const std::string& name, const std::optional<std::string>& key) {
  db.open(name.c_str());
  if (key) SqlSchema::set_key(db, *key);
}

// The version, read with the schema, so that a damaged schema fails here rather than at every
// statement after.
int read_version(CppSQLite3DB& db) {
  int version = db.execScalar("PRAGMA user_version;", 0);
  db.execScalar("SELECT count(*) FROM sqlite_master;");
  return version;
}

// Keeps one copy of an unreadable database, with its journal, beside it: "<name>.damaged",
// replacing the copy kept the time before. A companion file the database does not have is
// removed from the copy, so that no stale journal is paired with it.
void move_aside(const std::string& name) {
  const std::string aside = name + ".damaged";
  for (const char* suffix : kCompanions) {
    const std::string from = name + suffix;
    const std::string to = aside + suffix;
    if (std::rename(from.c_str(), to.c_str()) == 0) continue;
    const int error = errno;
    if (error != ENOENT) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR,
                                ("Unable to move " + from + " aside: " + std::strerror(error)).c_str());
    }
    std::remove(to.c_str());
  }
}

}  // namespace

const std::vector<std::string> SqlSchema::create_table_statements = make_create_tables();
const std::vector<std::string> SqlSchema::create_index_statements = make_create_indexes();
const std::vector<std::string> SqlSchema::drop_table_statements = make_drop_tables();
const std::vector<std::string> SqlSchema::drop_index_statements = make_drop_indexes();

std::string SqlSchema::database_name(const std::string& directory, const std::string& file_name,
                                     bool in_memory) {
  if (in_memory) return "file:" + file_name + "?mode=memory&cache=shared";
  return FileUtility().join(directory, file_name);
}

void SqlSchema::set_key(CppSQLite3DB& db, const std::string& install_key) {
  if (install_key.empty()) return;
  const std::string key = "aes128:" + install_key.substr(0, 16);
  db.setKey(key.data(), static_cast<int>(key.size()));
}

void SqlSchema::create_tables(CppSQLite3DB& db) {
  for (const std::string& sql : create_table_statements) db.execDML(sql.c_str());
  for (const std::string& sql : create_index_statements) db.execDML(sql.c_str());
}

void SqlSchema::drop_tables(CppSQLite3DB& db) {
  for (const std::string& sql : drop_table_statements) db.execDML(sql.c_str());
  for (const std::string& sql : drop_index_statements) db.execDML(sql.c_str());
}

void SqlSchema::check_schema_version(const std::string& name, bool in_memory,
                                     const std::optional<std::string>& key,
                                     const std::function<void()>& reset) {
  if (in_memory) {
    CppSQLite3DB check;
    open_database(check, name, key);
    read_version(check);
    create_tables(check);
    return;
  }
  // A single reading decides nothing: a transient read error can pass for damage. The file is
  // read twice, each time on a fresh connection, before anything is done to it.
  std::optional<CppSQLite3Exception> failure;
  for (int reading = 0; reading < 2; ++reading) {
    CppSQLite3DB check;
    try {
      // Keying reads the file too.
      open_database(check, name, key);
      if (read_version(check) == schema_version) {
        create_tables(check);
        return;
      }
      failure.reset();
    } catch (const CppSQLite3Exception& e) {
      failure = e;
    }
  }
  if (failure) {
    // A busy or failing disk says nothing about the file; changing it would lose unsynced data.
    if (!unreadable(failure->errorCode())) throw *failure;
    move_aside(name);
    brelt::log_error(kLogTag, name + " could not be read (" + failure->errorMessage() + "); moved aside to " +
                                  name + ".damaged and built again empty");
  } else {
    // Another version: there are no migrations.
    for (const char* suffix : kCompanions) std::remove((name + suffix).c_str());
  }
  CppSQLite3DB rebuilt;
  open_database(rebuilt, name, key);
  create_tables(rebuilt);
  reset();
}

}  // namespace libkestrun
