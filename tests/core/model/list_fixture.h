// What the list tests share: the database fixture with the list ordering manager (the real one
// over a memory store), a recording object client for the LIST_SAVE requests, and an account
// manager that authenticates every account, so that item documents apply; builders of lists,
// account lists and filed items.
#pragma once

#include <jansson.h>

#include <memory>
#include <string>

#include "core/foundation/memory_store.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_list.h"
#include "core/services/list_ordering_manager.h"
#include "db_fixture.h"
#include "json_text.h"
#include "support/fake_account_manager.h"
#include "support/fake_kestrun_object_server_client.h"

namespace kestrun_test {

class ListTest : public DbContextTest {
 protected:
  ListTest() {
    accounts_->account_authenticated = true;
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::list_ordering_manager_set_instance(ordering_);
    libkestrun::internal::kestrun_object_server_client_set_instance(server_);
  }
  ~ListTest() override {
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::list_ordering_manager_set_instance(nullptr);
    libkestrun::internal::kestrun_object_server_client_set_instance(nullptr);
  }

  // Applies a document given as text (single quotes stand for double quotes).
  std::shared_ptr<KestrunObject> apply(const std::string& type, std::string text) {
    for (char& c : text) {
      if (c == '\'') c = '"';
    }
    JsonDoc document(text);
    EXPECT_NE(document.value, nullptr) << text;
    return KestrunContext::applyServerDocument(document.value, type, "_id", &data_);
  }
  std::shared_ptr<KSAccountList> applyList(const std::string& text) {
    return std::static_pointer_cast<KSAccountList>(apply("list", text));
  }

  // An account list document of account `account`, saved at `savedAt`.
  static std::string listDocument(const std::string& id, const std::string& name, const std::string& account,
                                  int savedAt) {
    return "{'_id': '" + id + "', 'acct_id': '" + account + "', 'name': '" + name +
           "', 'saved_at': " + std::to_string(savedAt) + "}";
  }

  std::shared_ptr<KSList> list(const std::string& name) { return KSList::fetchWithName(name, &data_); }
  std::shared_ptr<KSItem> item(const std::string& id) { return KSItem::fetch(id, &data_); }

  // Forgets every object of the writing context, so that the next fetches read the committed rows.
  void reload() { data_.reset(); }

  std::shared_ptr<FakeAccountManager> accounts_ = std::make_shared<FakeAccountManager>();
  std::shared_ptr<libkestrun::ListOrderingManager> ordering_ =
      std::make_shared<libkestrun::ListOrderingManager>(std::make_shared<libkestrun::MemoryStore>());
  std::shared_ptr<FakeKestrunObjectServerClient> server_ = std::make_shared<FakeKestrunObjectServerClient>();
};

}  // namespace kestrun_test
