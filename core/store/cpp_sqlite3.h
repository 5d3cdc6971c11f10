// The SQLite wrapper of the relational store: CppSQLite3DB (a connection), CppSQLite3Statement (a
// compiled statement), CppSQLite3Query (a cursor), CppSQLite3Table (a result in memory) and
// CppSQLite3Exception (the one error type).
#pragma once

#include "core/store/cpp_sqlite3_db.h"
#include "core/store/cpp_sqlite3_exception.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/cpp_sqlite3_statement.h"
#include "core/store/cpp_sqlite3_table.h"
