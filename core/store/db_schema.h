// The persisted format of the core's database: ten tables, 23 indexes, the schema version kept in
// user_version, and the check that runs once per process before any working connection opens.
// There are no migrations: a database of another version is rebuilt empty.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CppSQLite3DB;

namespace libkestrun {

class SqlSchema {
 public:
  static constexpr int schema_version = 1408047191;

  // The ten CREATE TABLE statements, then the statement that writes the version.
  static const std::vector<std::string> create_table_statements;
  static const std::vector<std::string> create_index_statements;
  static const std::vector<std::string> drop_table_statements;
  static const std::vector<std::string> drop_index_statements;

  // The database's name: `file_name` in `directory`, or a named in-memory database that every
  // connection of the process opening the same name shares.
  static std::string database_name(const std::string& directory, const std::string& file_name,
                                   bool in_memory);

  // Keys a freshly opened connection with the per-install key. The database is always AES-128
  // under the key's first 16 bytes, whatever those bytes spell.
  static void set_key(CppSQLite3DB& db, const std::string& install_key);

  // Creates what is missing and writes the version; each statement commits on its own.
  static void create_tables(CppSQLite3DB& db);
  // Drops every table (and so its indexes); the version stays.
  static void drop_tables(CppSQLite3DB& db);

  // Keeps a database of this version (creating what is missing). The file is read twice, each
  // time on a fresh connection, before anything is done to it. A file of another version is
  // deleted with its journal and built again empty, and `reset` is called. A file that is not a
  // database, is damaged (its schema included) or does not decrypt under `key` is moved aside with
  // its journal to "<name>.damaged" (replacing the copy kept before, never deleted), logged, and
  // built again empty, and `reset` is called. Any other failure (busy, I/O) is thrown and the file
  // is kept. An in-memory database is created and never reset.
  static void check_schema_version(const std::string& name, bool in_memory,
                                   const std::optional<std::string>& key, const std::function<void()>& reset);
};

}  // namespace libkestrun
