// What the data writer's tests share: the data center over a keyed database on a real core thread,
// the real undo, counts and preference managers and the snooze calculator, and recording stand-ins
// for the server clients, the outgoing queue, the e-mail resource manager and the account manager.
// Objects are stored through data tasks and read back from the data center's own context.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/data/data_center.h"
#include "core/data/data_writer.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/semaphore.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/snooze_time_calculator.h"
#include "core/services/counts_manager.h"
#include "core/services/undo_manager.h"
#include "support/fake_account_manager.h"
#include "support/fake_email_resource_manager.h"
#include "support/fake_kestrun_object_server_client.h"
#include "support/fake_offline_manager.h"
#include "support/fake_server_client.h"
#include "support/temp_dir.h"

namespace kestrun_test {

class WriterTest : public ::testing::Test {
 protected:
  using Ids = std::vector<std::string>;
  using Completion = KestrunDataWriter::Completion;

  WriterTest() {
    DBContext::check_schema_version(path(), false, key(), [] {});
    KestrunDataCenter::initialize(&thread_, center_, path(), key());
    libkestrun::internal::kestrun_object_server_client_set_instance(objects_);
    libkestrun::internal::server_client_set_instance(server_);
    libkestrun::offline_manager_set_instance(offline_);
    libkestrun::email_resource_manager_set_instance(resources_);
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::undo_manager_set_instance(undo_);
    libkestrun::counts_manager_set_instance(counts_);
    libkestrun::pref_manager_set_instance(prefs_);
    libkestrun::SnoozeTimeCalculator::setGlobalInstance(calculator_);
  }
  ~WriterTest() override {
    libkestrun::SnoozeTimeCalculator::setGlobalInstance(nullptr);
    libkestrun::pref_manager_set_instance(nullptr);
    libkestrun::counts_manager_set_instance(nullptr);
    libkestrun::undo_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::email_resource_manager_set_instance(nullptr);
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
    libkestrun::internal::kestrun_object_server_client_set_instance(nullptr);
  }

  std::string path() const { return dir_.file("kestrun.db"); }
  static std::optional<std::string> key() { return std::string("0123456789abcdef0123456789ABCDEF"); }

  // JSON text parsed; a parse failure fails the test.
  static jsonette::Json parse(const std::string& text) {
    std::string error;
    jsonette::Json value = jsonette::Json::parse(text, error);
    EXPECT_TRUE(error.empty()) << error << " in " << text;
    return value;
  }

  // Calls `operation` with a completion and waits until the completion ran; returns the ids it got.
  Ids perform(const std::function<void(Completion)>& operation) {
    Ids seen;
    patch::semaphore done;
    operation([&](Ids& ids) {
      seen = ids;
      done.notify();
    });
    done.wait();
    return seen;
  }

  // Runs `work` as a data task on the data center's context (committed after it) and waits.
  void inStore(const std::function<void(DBContext&)>& work) {
    KestrunDataCenter::performSyncDataTask([&](Ids&, DBContext& context) { work(context); });
  }

  // Stores a read, unstarred inbox item of account "A" with e-mails; `set` changes it further.
  void storeItem(const std::string& id, const std::function<void(KSItem&)>& set = {}) {
    inStore([&](DBContext& context) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
      item->setItemID(id);
      item->setAccountID("A");
      item->setState(libkestrun::ItemState::Inbox);
      item->setThreadHasEmails(true);
      item->setDeferRead(false);
      if (set) set(*item);
    });
  }

  // Stores a read e-mail of account "A" in the item and folds it into the item's summary.
  void storeEmail(const std::string& id, const std::string& itemID,
                  const std::function<void(KSEmail&)>& set = {}) {
    inStore([&](DBContext& context) {
      auto email = std::static_pointer_cast<KSEmail>(context.createObject("KSEMAIL", id));
      email->set_EMAILID(id);
      email->set_ACCOUNTID("A");
      email->set_PARENTITEMID(itemID);
      email->set_CREATEDAT(1000);
      email->set_READ(true);
      if (set) set(*email);
      if (auto item = context.fetchItem(itemID)) item->addEmail(email);
    });
  }

  // A copy of the stored row, as the data center's context holds it.
  libkestrun::internal::Item item(const std::string& id) {
    libkestrun::internal::Item row;
    inStore([&](DBContext& context) {
      auto found = context.fetchItem(id);
      EXPECT_TRUE(found) << id;
      if (found) row = found->row();
    });
    return row;
  }
  libkestrun::internal::Email email(const std::string& id) {
    libkestrun::internal::Email row;
    inStore([&](DBContext& context) {
      auto found = context.fetchEmail(id);
      EXPECT_TRUE(found) << id;
      if (found) row = *found;
    });
    return row;
  }

  TempDir dir_;
  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  std::shared_ptr<FakeKestrunObjectServerClient> objects_ = std::make_shared<FakeKestrunObjectServerClient>();
  std::shared_ptr<FakeServerClient> server_ = std::make_shared<FakeServerClient>();
  std::shared_ptr<FakeOfflineManager> offline_ = std::make_shared<FakeOfflineManager>();
  std::shared_ptr<FakeEmailResourceManager> resources_ = std::make_shared<FakeEmailResourceManager>();
  std::shared_ptr<FakeAccountManager> accounts_ = std::make_shared<FakeAccountManager>();
  std::shared_ptr<libkestrun::UndoManager> undo_ = std::make_shared<libkestrun::UndoManager>(nullptr);
  std::shared_ptr<libkestrun::CountsManager> counts_ =
      std::make_shared<libkestrun::CountsManager>(nullptr, std::make_shared<libkestrun::MemoryStore>());
  std::shared_ptr<libkestrun::PrefManager> prefs_ = std::make_shared<libkestrun::PrefManager>(
      &thread_, center_, std::make_shared<libkestrun::MemoryStore>(), accounts_.get());
  std::shared_ptr<libkestrun::SnoozeTimeCalculator> calculator_ =
      std::make_shared<libkestrun::SnoozeTimeCalculator>(prefs_.get());
};

}  // namespace kestrun_test
