// How each column type of a row record is written to a statement placeholder and read back from a
// result field. Both directions live together so that they stay mirror images:
//
//   type                       written as                           NULL reads as
//   std::string                TEXT, every byte (NUL included)       ""
//   optional std::string       TEXT, or NULL when absent            absent
//   long long / int            INTEGER (64 / 32-bit bind)           0
//   enumeration                INTEGER, its numeric value            0 (any integer is kept)
//   bool                       INTEGER 1 or 0                       false (true when not 0)
//   double                     REAL                                 0.0
//   set of strings             TEXT, JSON array in set order ("[]") empty set
//   VectorClock                TEXT, JSON object                    empty clock
//   EmailName                  TEXT, JSON object                    both fields empty
//   vector of EmailName        TEXT, JSON array of objects          empty list
//
// JSON text that does not parse, or has the wrong shape, reads as the empty value: these columns
// are written only by this store, so a bad text is damage to recover from, not an error to report.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/store/email_name.h"
#include "core/store/vector_clock.h"

class CppSQLite3Query;
class CppSQLite3Statement;

namespace libkestrun::internal {

// The whole text of a field, embedded NUL bytes included; "" for NULL.
std::string read_text(CppSQLite3Query& query, int field);
// Binds every byte of the text, as TEXT (an empty string is empty text, never NULL).
void bind_text(CppSQLite3Statement& statement, int index, const std::string& text);

template <class T, class = void>
struct ColumnCodec;

template <>
struct ColumnCodec<std::string> {
  static std::string read(CppSQLite3Query& query, int field) { return read_text(query, field); }
  static void bind(CppSQLite3Statement& statement, int index, const std::string& value) {
    bind_text(statement, index, value);
  }
};

template <>
struct ColumnCodec<std::optional<std::string>> {
  static std::optional<std::string> read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, const std::optional<std::string>& value);
};

template <>
struct ColumnCodec<long long> {
  static long long read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, long long value);
};

template <>
struct ColumnCodec<int> {
  static int read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, int value);
};

template <>
struct ColumnCodec<bool> {
  static bool read(CppSQLite3Query& query, int field) { return ColumnCodec<int>::read(query, field) != 0; }
  static void bind(CppSQLite3Statement& statement, int index, bool value) {
    ColumnCodec<int>::bind(statement, index, value ? 1 : 0);
  }
};

template <class E>
struct ColumnCodec<E, std::enable_if_t<std::is_enum_v<E>>> {
  static_assert(sizeof(std::underlying_type_t<E>) <= sizeof(int),
                "enumerations are stored as 32-bit integers");
  static E read(CppSQLite3Query& query, int field) {
    return static_cast<E>(ColumnCodec<int>::read(query, field));
  }
  static void bind(CppSQLite3Statement& statement, int index, E value) {
    ColumnCodec<int>::bind(statement, index, static_cast<int>(value));
  }
};

template <>
struct ColumnCodec<double> {
  static double read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, double value);
};

template <>
struct ColumnCodec<std::set<std::string>> {
  static std::set<std::string> read(CppSQLite3Query& query, int field) {
    return from_text(read_text(query, field));
  }
  static void bind(CppSQLite3Statement& statement, int index, const std::set<std::string>& value) {
    bind_text(statement, index, to_text(value));
  }
  static std::string to_text(const std::set<std::string>& value);
  static std::set<std::string> from_text(const std::string& text);
};

template <>
struct ColumnCodec<VectorClock> {
  static VectorClock read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, const VectorClock& value) {
    bind_text(statement, index, value.to_json().dump());
  }
};

template <>
struct ColumnCodec<EmailName> {
  static EmailName read(CppSQLite3Query& query, int field);
  static void bind(CppSQLite3Statement& statement, int index, const EmailName& value) {
    bind_text(statement, index, value.to_json().dump());
  }
};

template <>
struct ColumnCodec<std::vector<EmailName>> {
  static std::vector<EmailName> read(CppSQLite3Query& query, int field) {
    return EmailName::list_from_field(query, field);
  }
  static void bind(CppSQLite3Statement& statement, int index, const std::vector<EmailName>& value);
};

// A list of names bound as the JSON text of its array.
void bind_email_names(CppSQLite3Statement& statement, int index, const std::vector<EmailName>& names);

}  // namespace libkestrun::internal
