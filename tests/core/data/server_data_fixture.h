// What the tests of server documents and search results share: both centres over a fresh
// database on a real core thread, with the neighbours they reach installed as recording fakes (an
// account manager that authenticates every account and answers "A" for the user's address, a
// sync status manager whose new-mail threshold every e-mail passes, the change tokens, the search
// state and the server client), and helpers that hand a call to the core thread and wait for its
// completion.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/semaphore.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/query_updater.h"
#include "support/fake_account_manager.h"
#include "support/fake_changes_manager.h"
#include "support/fake_search_data_manager.h"
#include "support/fake_server_client.h"
#include "support/fake_sync_status_manager.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"

namespace kestrun_test {

using Results = std::vector<std::string>;
using Completion = KestrunDataCenter::Completion;

// Parses JSON text written with single quotes for readability; the caller releases it.
inline json_t* doc(std::string text) {
  for (char& c : text) {
    if (c == '\'') c = '"';
  }
  json_error_t error;
  json_t* value = json_loads(text.c_str(), JSON_DECODE_ANY, &error);
  EXPECT_NE(value, nullptr) << error.text << " in " << text;
  return value;
}

// The same as the platform's JSON value (which reads integers past 64 bits as doubles).
inline jsonette::Json json(std::string text) {
  for (char& c : text) {
    if (c == '\'') c = '"';
  }
  std::string error;
  jsonette::Json value = jsonette::Json::parse(text, error);
  EXPECT_EQ(error, "") << text;
  return value;
}

class ServerDataTest : public ::testing::Test {
 protected:
  ServerDataTest() {
    accounts_->account_authenticated = true;
    accounts_->primary_account_id_for_address = std::string("A");
    sync_->new_email_timestamp = true;
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::sync_status_manager_set_instance(sync_);
    libkestrun::changes_manager_set_instance(changes_);
    libkestrun::search_data_manager_set_instance(search_);
    libkestrun::internal::server_client_set_instance(server_);
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, std::nullopt, [] {});
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), std::nullopt);
    KestrunConsumerCenter::initialize(&thread_, dir_.file("kestrun.db"), std::nullopt);
    run_on(thread_, [] { KestrunDataCenter::getMemoryContext()->clearStore(); });
  }
  ~ServerDataTest() override {
    drain();
    run_on(thread_, [] { KestrunDataCenter::getMemoryContext()->clearStore(); });
    libkestrun::query_updater_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::sync_status_manager_set_instance(nullptr);
    libkestrun::changes_manager_set_instance(nullptr);
    libkestrun::search_data_manager_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
  }

  // Calls `start` on the core thread with a second completion and waits for it; returns the
  // vector it saw. `start` must queue a task that completes.
  Results complete(const std::function<void(Completion)>& start) {
    Results seen;
    patch::semaphore done;
    run_on(thread_, [&] {
      start([&](Results& results) {
        seen = results;
        done.notify();
      });
    });
    done.wait();
    return seen;
  }

  // Returns once everything queued so far, low priority included, has run.
  void drain() {
    patch::semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
  }

  // Reads the committed database on the core thread, in a task of its own.
  template <class F>
  void inDatabase(F f) {
    KestrunDataCenter::performSyncDataTask([&](Results&, DBContext& context) { f(context); });
  }

  // Applies documents (JSON text) of one type in one committed task.
  void store(const std::string& type, const std::vector<std::string>& documents) {
    KestrunDataCenter::performSyncDataTask([&](Results&, DBContext&) {
      for (const std::string& text : documents) {
        json_t* document = doc(text);
        EXPECT_TRUE(KestrunDataCenter::applyDocument(document, type)) << text;
        json_decref(document);
      }
    });
  }

  std::shared_ptr<KSItem> storedItem(const std::string& id) {
    std::shared_ptr<KSItem> item;
    inDatabase([&](DBContext& context) {
      if (context.itemExists(id)) item = context.fetchItem(id);
    });
    return item;
  }
  bool emailStored(const std::string& id) {
    bool found = false;
    inDatabase([&](DBContext& context) { found = context.emailExists(id); });
    return found;
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  TempDir dir_;
  std::shared_ptr<FakeAccountManager> accounts_ = std::make_shared<FakeAccountManager>();
  std::shared_ptr<FakeSyncStatusManager> sync_ = std::make_shared<FakeSyncStatusManager>();
  std::shared_ptr<FakeChangesManager> changes_ = std::make_shared<FakeChangesManager>();
  std::shared_ptr<FakeSearchDataManager> search_ = std::make_shared<FakeSearchDataManager>();
  std::shared_ptr<FakeServerClient> server_ = std::make_shared<FakeServerClient>();
};

}  // namespace kestrun_test
