// A keyed database file in a fresh directory with the two contexts the core keeps on it: the
// writing context, through which the tests create and commit, and the reading one, which sees
// only what was committed. A query recorder stands in for the live queries.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/model/db_context.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "model_fixtures.h"
#include "support/temp_dir.h"

namespace kestrun_test {

// The ids of a result, in its order.
template <class T>
std::vector<std::string> ids(const KSObjects<T>& objects) {
  std::vector<std::string> out;
  for (const auto& object : *objects) out.push_back(object->id());
  return out;
}

class DbContextTest : public ::testing::Test {
 protected:
  DbContextTest() {
    DBContext::check_schema_version(path(), false, key(), [] {});
    data_.open(path(), key());
    reader_.open(path(), key());
  }
  ~DbContextTest() override { libkestrun::query_updater_set_instance(nullptr); }

  std::string path() const { return dir_.file("kestrun.db"); }
  static std::optional<std::string> key() { return std::string("0123456789abcdef0123456789ABCDEF"); }

  // A new inbox item of account "A" with e-mails, pending in the writing context; `set` changes
  // it further.
  std::shared_ptr<KSItem> newItem(const std::string& id, const std::function<void(KSItem&)>& set = {}) {
    auto item = std::static_pointer_cast<KSItem>(data_.createObject("KSITEM", id));
    item->setItemID(id);
    item->setAccountID("A");
    item->setState(libkestrun::ItemState::Inbox);
    item->setThreadHasEmails(true);
    if (set) set(*item);
    return item;
  }

  std::shared_ptr<KSEmail> newEmail(const std::string& id, const std::string& itemID,
                                    const std::function<void(KSEmail&)>& set = {}) {
    auto email = std::static_pointer_cast<KSEmail>(data_.createObject("KSEMAIL", id));
    email->set_EMAILID(id);
    email->set_ACCOUNTID("A");
    email->set_PARENTITEMID(itemID);
    if (set) set(*email);
    return email;
  }

  // A stored inbox item row of account "A" with e-mails, written at once with the context's insert.
  libkestrun::internal::Item storeItem(const std::string& id, int64_t modifiedAt,
                                       const std::function<void(libkestrun::internal::Item&)>& set = {}) {
    libkestrun::internal::Item row;
    row.set_ITEMID(id);
    row.set_ACCOUNTID("A");
    row.set_STATE(libkestrun::ItemState::Inbox);
    row.set_THREADHASEMAILS(true);
    row.set_MODIFIEDAT(modifiedAt);
    if (set) set(row);
    data_.insertItem(row);
    return row;
  }

  void storeEmail(const std::string& id, const std::string& itemID,
                  const std::function<void(libkestrun::internal::Email&)>& set = {}) {
    libkestrun::internal::Email row;
    row.set_EMAILID(id);
    row.set_ACCOUNTID("A");
    row.set_PARENTITEMID(itemID);
    if (set) set(row);
    data_.insertEmail(row);
  }

  // Runs `work` in one transaction, for fixtures of many rows.
  void inTransaction(const std::function<void()>& work) {
    data_.database().execDML("BEGIN TRANSACTION;");
    work();
    data_.database().execDML("END TRANSACTION;");
  }

  libkestrun::ChangeSet commit() {
    libkestrun::ChangeSet changes;
    data_.commit(changes);
    return changes;
  }

  TempDir dir_;
  std::shared_ptr<QueryRecorder> recorder_ = QueryRecorder::install();
  DBContext data_;
  DBContext reader_;
};

}  // namespace kestrun_test
