// The one error type of the relational store: an SQLite result code, or CPPSQLITE_ERROR for the
// wrapper's own checks, with a message "NAME[code]: detail".
#pragma once

// The wrapper's own failures (a missing connection or statement, a bad index, ...).
constexpr int CPPSQLITE_ERROR = 1000;

class CppSQLite3Exception {
 public:
  // `detail` may be null. With `release` set, `detail` came from sqlite3_malloc (the error texts
  // of sqlite3_exec and sqlite3_get_table) and is freed once the message is formatted.
  CppSQLite3Exception(int code, const char* detail, bool release = false);
  CppSQLite3Exception(const CppSQLite3Exception& other);
  CppSQLite3Exception& operator=(const CppSQLite3Exception& other);
  virtual ~CppSQLite3Exception();

  int errorCode() const { return code_; }
  const char* errorMessage() const { return message_; }

  // "SQLITE_CONSTRAINT" for 19, "CPPSQLITE_ERROR" for 1000, "UNKNOWN_ERROR" for codes it does
  // not name.
  static const char* errorCodeAsString(int code);

 private:
  int code_;
  char* message_;  // owned, from sqlite3_mprintf
};
