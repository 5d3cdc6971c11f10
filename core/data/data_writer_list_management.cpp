// Creating, renaming, re-ordering and deleting the user's lists. A list's order key lives in two
// places, on the list and in the list ordering manager under its name: rename moves the manager's
// entry, delete removes it, reorder rewrites both.
#include <utility>

#include "core/accounts/account_manager.h"
#include "core/data/data_writer_routines.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_list.h"
#include "core/services/list_ordering_manager.h"
#include "core/services/undo_manager.h"
#include "core/sync/kestrun_object_server_client.h"

using namespace libkestrun::internal;

namespace libkestrun::internal {

std::shared_ptr<KSList> internalFetchList(const std::string& listId, KestrunContext& context) {
  return context.fetchList(listId);
}

}  // namespace libkestrun::internal

namespace {

// The list of the name, created when absent, its id reported; with account lists, every primary
// account gets its account list in it.
std::shared_ptr<KSList> internalFindOrCreateList(const std::string& name, bool withAccountLists,
                                                 Ids& changedIds, DBContext& context) {
  std::shared_ptr<KSList> list = KSList::findOrCreate(name, &context);
  if (!list) return nullptr;
  changedIds.push_back(list->listID());
  if (!withAccountLists) return list;
  if (auto accounts = libkestrun::account_manager_all_primary_account_ids()) {
    for (const std::string& accountId : *accounts) {
      list->addAccountList(KSList::accountListForAccount(list, accountId, &context));
    }
  }
  return list;
}

template <class T>
std::vector<std::shared_ptr<T>> copyOf(const KSObjects<T>& objects) {
  return objects ? *objects : std::vector<std::shared_ptr<T>>();
}

}  // namespace

void KestrunDataWriter::createList(const std::string& name, Completion completion) {
  if (name.empty()) return;
  performWriterTask(
      [name](Ids& ids, DBContext& context) { internalFindOrCreateList(name, true, ids, context); },
      std::move(completion));
}

void KestrunDataWriter::renameList(const std::string& listId, const std::string& newName,
                                   Completion completion) {
  if (newName.empty()) return;
  performWriterTask(
      [listId, newName](Ids& ids, DBContext& context) {
        std::shared_ptr<KSList> list = internalFetchList(listId, context);
        if (!list || list->name() == newName) return;
        // Before the target is found or made, so that a new target takes the old key.
        libkestrun::list_ordering_manager_rename_list(list->name(), newName);
        const auto items = copyOf(list->items());
        std::shared_ptr<KSList> target = internalFindOrCreateList(newName, false, ids, context);
        if (!target) return;
        for (const auto& item : items) target->addItem(item, item->accountList());
        for (const auto& accountList : copyOf(list->accountLists())) {
          const std::string previousName = accountList->name();
          accountList->setName(newName);
          KSList::deleteList(accountList, list, &context);
          target->addAccountList(accountList);
          kestrun_object_server_client_update_list(accountList->listID(), previousName, newName,
                                                   accountList->accountID(), true);
        }
      },
      std::move(completion));
}

void KestrunDataWriter::reorderList(Ids listIds, Completion completion) {
  if (listIds.empty()) return;
  performWriterTask(
      [listIds = std::move(listIds)](Ids&, DBContext& context) {
        int key = 0;
        for (const std::string& listId : listIds) {
          std::shared_ptr<KSList> list = internalFetchList(listId, context);
          if (!list) continue;
          list->setOrderKey(key);
          libkestrun::list_ordering_manager_set_order_key(list->name(), key);
          ++key;
        }
      },
      std::move(completion));
}

void KestrunDataWriter::deleteList(const std::string& listId, Completion completion) {
  performWriterTask(
      [listId](Ids&, DBContext& context) {
        std::shared_ptr<KSList> list = internalFetchList(listId, context);
        if (!list) return;
        {
          UndoStepLock lock;
          Ids collected;
          // Every item filed here, also those the list's folder does not show yet (e-mails still
          // on their way): none may stay in state 5 under a list that is gone.
          for (const auto& item : copyOf(list->items())) {
            if (internalCompleteItem(item, false, &collected, item->threadRead(), false)) {
              collected.push_back(item->itemID());
            }
          }
          sendCollected(collected);
          // The archive recorded its items on top of the step before, and an undo would file them
          // all into this list, which is gone: a deleted list leaves nothing to undo.
          libkestrun::undo_manager_clear();
        }
        const auto accountLists = copyOf(list->accountLists());
        for (const auto& accountList : accountLists) {
          kestrun_object_server_client_delete_list(accountList->listID(), accountList->name(),
                                                   accountList->accountID(), true);
        }
        for (const auto& accountList : accountLists) context.deleteObject(accountList);
        libkestrun::list_ordering_manager_remove_list(list->name());
        context.deleteObject(list);
      },
      std::move(completion));
}
