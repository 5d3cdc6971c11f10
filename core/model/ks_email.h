// One e-mail of a conversation: a model object over one row of KSEMAIL, whose PARENTITEMID names
// its conversation item. The e-mail is its own row record (the column accessors are the row's);
// it reports its first changed column to its context like an item does.
#pragma once

#include <cstdint>
#include <string>

#include "core/model/db_kestrun_object.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/email_record.h"

class KSEmail : public DBKestrunObject, public libkestrun::internal::Email {
 public:
  // A new e-mail with the defaults of a received message and no changed column.
  explicit KSEmail(KestrunContext* context);
  // An e-mail loaded from the current row of a KSEMAIL query.
  KSEmail(KestrunContext* context, CppSQLite3Query& query);
  // A new e-mail over a copy of a row; no defaults are applied.
  KSEmail(KestrunContext* context, const libkestrun::internal::Email& record);

  void setDefaults() override;
  std::string id() const override { return get_EMAILID(); }
  std::string tableName() const override { return libkestrun::internal::Email::table_name; }
  void setFromServerKey(const std::string& key, json_t* value) override;
  // Insert when new, else update when changed, else remove when deleted.
  void save() override;
  void clearChangedFields() override { clearChanged(*this); }
  size_t changedColumnCount() const override { return countChanged(*this); }
  std::string idKey() const override { return "_id"; }

  const std::string& accountID() const override { return get_ACCOUNTID(); }
  int64_t savedAt() const override { return get_SAVEDAT(); }
  void setSyncData(std::string text) override { set_SYNCDATA(std::move(text)); }
  const std::string& syncData() const override { return get_SYNCDATA(); }
  bool loadedOnce() const override { return get_LOADEDONCE(); }
  void setLoadedOnce(bool value) override { set_LOADEDONCE(value); }

 private:
  void registerChangeListener();
};
