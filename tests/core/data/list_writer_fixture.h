// What the tests of the list operations share: the writer fixture with two primary accounts, "A"
// and "B", the real list ordering manager over a memory store, a recording sync status manager,
// and builders of stored lists and filed items.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/model/ks_account_list.h"
#include "core/model/ks_list.h"
#include "core/services/list_ordering_manager.h"
#include "support/fake_sync_status_manager.h"
#include "writer_fixture.h"

namespace kestrun_test {

// The calls of one method, in order.
inline std::vector<Call> callsOf(const std::vector<Call>& calls, const std::string& method) {
  std::vector<Call> found;
  for (const auto& call : calls) {
    if (call.method == method) found.push_back(call);
  }
  return found;
}

class ListWriterTest : public WriterTest {
 protected:
  ListWriterTest() {
    accounts_->primary_account_ids = {"A", "B"};
    libkestrun::list_ordering_manager_set_instance(ordering_);
    libkestrun::sync_status_manager_set_instance(sync_);
  }
  ~ListWriterTest() override {
    libkestrun::sync_status_manager_set_instance(nullptr);
    libkestrun::list_ordering_manager_set_instance(nullptr);
  }

  // A stored list with an account list of each account; the LIST_SAVE requests are forgotten.
  void storeList(const std::string& name, const std::vector<std::string>& accounts = {"A"}) {
    inStore([&](DBContext& context) {
      auto list = KSList::findOrCreate(name, &context);
      for (const auto& account : accounts) KSList::accountListForAccount(list, account, &context);
    });
    objects_->clear();
  }

  // Files the stored item into the stored list, under the account list of the item's account
  // (none when `withAccountList` is false).
  void fileItem(const std::string& itemId, const std::string& name, bool withAccountList = true) {
    inStore([&](DBContext& context) {
      auto item = context.fetchItem(itemId);
      auto list = KSList::fetchWithName(name, &context);
      ASSERT_TRUE(item && list);
      std::shared_ptr<KSAccountList> accountList;
      if (withAccountList) accountList = KSList::accountListForAccount(list, item->accountID(), &context);
      item->setState(libkestrun::ItemState::List);
      if (accountList) item->setListID(accountList->listID());
      list->addItem(item, accountList);
    });
  }

  // The stored list's row, or none.
  std::optional<libkestrun::internal::UserList> list(const std::string& listId) {
    std::optional<libkestrun::internal::UserList> row;
    inStore([&](DBContext& context) {
      if (auto found = KSList::fetchWithID(listId, &context)) row = found->row();
    });
    return row;
  }

  // The stored account list of the account in the list: id and name, or none.
  std::optional<libkestrun::internal::List> accountList(const std::string& listId,
                                                        const std::string& account) {
    std::optional<libkestrun::internal::List> row;
    inStore([&](DBContext& context) {
      auto found = KSList::fetchWithID(listId, &context);
      if (!found || !found->accountLists()) return;
      for (const auto& each : *found->accountLists()) {
        if (each->accountID() == account) row = each->row();
      }
    });
    return row;
  }

  std::shared_ptr<libkestrun::ListOrderingManager> ordering_ =
      std::make_shared<libkestrun::ListOrderingManager>(std::make_shared<libkestrun::MemoryStore>());
  std::shared_ptr<FakeSyncStatusManager> sync_ = std::make_shared<FakeSyncStatusManager>();
};

}  // namespace kestrun_test
