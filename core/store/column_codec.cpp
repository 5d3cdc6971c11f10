#include "core/store/column_codec.h"

#include <limits>

#include "core/store/cpp_sqlite3.h"

namespace libkestrun::internal {

std::string read_text(CppSQLite3Query& query, int field) {
  // The blob getter hands over the text's bytes with their length, NUL bytes included, and
  // converts numbers to their text as the string getter would.
  int length = 0;
  const unsigned char* bytes = query.getBlobField(field, length);
  if (bytes == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

void bind_text(CppSQLite3Statement& statement, int index, const std::string& text) {
  // A length beyond int would wrap and store a silently cut text; SQLite refuses far smaller ones.
  if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
    throw CppSQLite3Exception(SQLITE_TOOBIG, "Error binding string param");
  statement.bind(index, text.data(), static_cast<int>(text.size()));
}

std::optional<std::string> ColumnCodec<std::optional<std::string>>::read(CppSQLite3Query& query, int field) {
  if (query.fieldIsNull(field)) return std::nullopt;
  return read_text(query, field);
}

void ColumnCodec<std::optional<std::string>>::bind(CppSQLite3Statement& statement, int index,
                                                   const std::optional<std::string>& value) {
  if (value) {
    bind_text(statement, index, *value);
  } else {
    statement.bindNull(index);
  }
}

long long ColumnCodec<long long>::read(CppSQLite3Query& query, int field) {
  return query.getInt64Field(field, 0);
}

void ColumnCodec<long long>::bind(CppSQLite3Statement& statement, int index, long long value) {
  statement.bind(index, value);
}

int ColumnCodec<int>::read(CppSQLite3Query& query, int field) { return query.getIntField(field, 0); }

void ColumnCodec<int>::bind(CppSQLite3Statement& statement, int index, int value) {
  statement.bind(index, value);
}

double ColumnCodec<double>::read(CppSQLite3Query& query, int field) {
  return query.getFloatField(field, 0.0);
}

void ColumnCodec<double>::bind(CppSQLite3Statement& statement, int index, double value) {
  statement.bind(index, value);
}

std::string ColumnCodec<std::set<std::string>>::to_text(const std::set<std::string>& value) {
  return jsonette::Json(jsonette::Json::array(value.begin(), value.end())).dump();
}

std::set<std::string> ColumnCodec<std::set<std::string>>::from_text(const std::string& text) {
  std::string error;
  const jsonette::Json parsed = jsonette::Json::parse(text, error);
  std::set<std::string> value;
  for (const jsonette::Json& item : parsed.array_items()) value.insert(item.string_value());
  return value;
}

VectorClock ColumnCodec<VectorClock>::read(CppSQLite3Query& query, int field) {
  std::string error;
  VectorClock clock;
  clock.from_json(jsonette::Json::parse(read_text(query, field), error));
  return clock;
}

EmailName ColumnCodec<EmailName>::read(CppSQLite3Query& query, int field) {
  std::string error;
  return EmailName::from_json(jsonette::Json::parse(read_text(query, field), error));
}

void ColumnCodec<std::vector<EmailName>>::bind(CppSQLite3Statement& statement, int index,
                                               const std::vector<EmailName>& value) {
  bind_email_names(statement, index, value);
}

void bind_email_names(CppSQLite3Statement& statement, int index, const std::vector<EmailName>& names) {
  bind_text(statement, index, EmailName::list_to_json(names).dump());
}

}  // namespace libkestrun::internal
