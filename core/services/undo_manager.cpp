#include "core/services/undo_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<UndoManager> instance;
}  // namespace

void undo_manager_set_instance(std::shared_ptr<UndoManager> manager) { instance.set(std::move(manager)); }

void undo_manager_lock() { instance.call(&UndoManager::lock); }
void undo_manager_unlock() { instance.call(&UndoManager::unlock); }
void undo_manager_clear() { instance.call(&UndoManager::clear); }

void undo_manager_record_action(std::shared_ptr<KSItem> item, ItemState action) {
  instance.call(&UndoManager::recordAction, std::move(item), action);
}

}  // namespace libkestrun
