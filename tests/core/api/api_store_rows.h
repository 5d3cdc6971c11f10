// What the tests of the facade's queries, local changes and read-outs share: rows written straight
// into the facade's store through its data center, a change operation waited for, and an observer
// that records what a live query reports.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "core/api/api.h"
#include "core/data/data_center.h"
#include "core/model/data_query.h"
#include "core/model/db_context.h"
#include "core/store/email_record.h"
#include "core/store/item_record.h"

namespace kestrun_test {

using libkestrun::ItemState;
using libkestrun::internal::Email;
using libkestrun::internal::Item;
using Ids = std::vector<std::string>;

// A conversation of account "A" with one e-mail, in `state`, last modified at `modifiedAt`.
inline Item conversation(const std::string& id, ItemState state, int64_t modifiedAt) {
  Item item;
  item.set_ITEMID(id);
  item.set_ACCOUNTID("A");
  item.set_STATE(state);
  item.set_EMAILCOUNT(1);
  item.set_THREADHASEMAILS(true);
  item.set_THREADREAD(true);
  item.set_MODIFIEDAT(modifiedAt);
  item.set_THREADTIMESTAMP(modifiedAt);
  item.set_SUBJECT("Subject of " + id);
  return item;
}

// The read e-mail `id` of the item, of account "A".
inline Email message(const std::string& id, const std::string& itemId, int64_t createdAt) {
  Email email;
  email.set_EMAILID(id);
  email.set_ACCOUNTID("A");
  email.set_PARENTITEMID(itemId);
  email.set_CREATEDAT(createdAt);
  email.set_READ(true);
  return email;
}

// Writes the rows through the data center's context on the core thread and waits; the rows skip
// the commit, so no live query hears of them.
inline void store_rows(const std::vector<Item>& items, const std::vector<Email>& emails = {}) {
  KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
    for (const Item& item : items) context.insertItem(item);
    for (const Email& email : emails) context.insertEmail(email);
  });
}

// Runs `work` as a committed data task on the core thread and waits: its changes reach the live
// queries as a user's or the server's would.
inline void change_store(const std::function<void(DBContext&)>& work) {
  KestrunDataCenter::performSyncDataTask(
      [&](std::vector<std::string>&, DBContext& context) { work(context); });
}

// Calls a change operation of the facade and waits for its completion; the ids it reported.
inline Ids perform_change(const std::function<void(libkestrun::Api::ChangeDone)>& operation) {
  Ids seen;
  brelt::Semaphore done;
  operation([&](Ids& ids) {
    seen = ids;
    done.notify();
  });
  done.wait();
  return seen;
}

// Records a query's rows (ids, in order) and each change as "<kind>:<id>". The first pass runs on
// the registering thread and later ones on the core thread, hence the mutex.
class QueryRecorder : public libkestrun::ObjectQueryObserver {
 public:
  using Row = std::shared_ptr<KestrunObject>;

  void set_results(const std::string&, const std::vector<Row>& rows) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.clear();
    for (const Row& row : rows) rows_.push_back(row->id());
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, Row row, libkestrun::ConsumerChangeType type, int, int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.push_back(kind(type) + ":" + row->id());
  }
  void end_changes(const std::string&) override {}

  Ids rows() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
  }
  Ids changes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
  }

  static std::string kind(libkestrun::ConsumerChangeType type) {
    switch (type) {
      case libkestrun::ConsumerChangeType::Insert:
        return "insert";
      case libkestrun::ConsumerChangeType::Update:
        return "update";
      case libkestrun::ConsumerChangeType::Delete:
        return "delete";
      case libkestrun::ConsumerChangeType::MovedIn:
        return "moved-in";
      case libkestrun::ConsumerChangeType::MovedOut:
        return "moved-out";
    }
    return "?";
  }

 private:
  std::mutex mutex_;
  Ids rows_;
  Ids changes_;
};

}  // namespace kestrun_test
