#include "core/services/undo_manager.h"

#include "core/data/data_writer.h"
#include "core/foundation/process_instance.h"
#include "core/locales/texts.h"
#include "core/model/ks_item.h"
#include "harnvik/strings.h"
#include "localization/localization.h"

namespace libkestrun {

const char* const kUndoWasCommitted = "com.kestrun.undo.was.committed";

UndoManager::UndoManager(std::shared_ptr<NotificationCenter> center)
    : notificationCenter_(std::move(center)) {}

void UndoManager::lock() { mutex_.lock(); }
void UndoManager::unlock() { mutex_.unlock(); }

void UndoManager::clear() { step_ = Step(); }

void UndoManager::recordAction(std::shared_ptr<KSItem> item, ItemState action) {
  if (!item) return;
  step_.itemIds.push_back(item->itemID());
  step_.previousState = item->state();
  step_.action = action;
  step_.snoozeType = item->snoozeType();
  step_.remindAt = item->remindAt();
  // The item's list column holds the list's id ("list_" and its name).
  const std::string& listId = item->row().get_MLISTID();
  if (!listId.empty()) step_.listId = listId;
}

bool UndoManager::hasActionToUndo() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return !step_.itemIds.empty() && step_.action != ItemState::None;
}

std::string UndoManager::folderName(ItemState state) {
  switch (state) {
    case ItemState::Later:
      return LOCALIZED_STRING(
          text::kLater,
          "Name of a folder, used in the context of a message being moved either from or to "
          "the Later folder");
    case ItemState::Inbox:
      return LOCALIZED_STRING(
          text::kInbox,
          "Name of a folder, used in the context of a message being moved either from or to "
          "the Inbox folder");
    case ItemState::Archive:
      return LOCALIZED_STRING(
          text::kArchive,
          "Name of a folder, used in the context of a message being moved either from or to "
          "the Archive folder");
    case ItemState::Trash:
      return LOCALIZED_STRING(
          text::kTrash,
          "Name of a folder, used in the context of a message being moved either from or to "
          "the Trash folder");
    case ItemState::List:
      return LOCALIZED_STRING(
          text::kLists,
          "Name of a folder, used in the context of a message being moved either from or to "
          "a list` folder");
    case ItemState::Spam:
      return LOCALIZED_STRING(
          text::kSpam,
          "Name of a folder, used in the context of a message being moved either from or to "
          "Spam");
    default:
      return "Unknown";
  }
}

std::string UndoManager::alertMessageForCurrentState() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!hasActionToUndo()) return "";
  const std::string from = folderName(step_.action);
  const std::string to = folderName(step_.previousState);
  const uint64_t count = step_.itemIds.size();
  // The translated format is checked against its arguments, never handed to printf.
  const std::string format =
      PLURALIZED_STRING(text::kUndoMoveItem, text::kUndoMoveItems,
                        "Message prompting the user to undo the moving of multiple items from "
                        "{later/inbox/archive/trash/lists} to {later/inbox/archive/trash/lists}",
                        static_cast<int32_t>(count));
  return harnvik::verdane::lang::str_printf(format.c_str(), count, from, to);
}

void UndoManager::performUndoAction() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!hasActionToUndo()) return;
  startOppositeStep(step_);
  if (notificationCenter_) notificationCenter_->post_notification(kUndoWasCommitted, nullptr);
}

void UndoManager::startOppositeStep(const Step& step) {
  switch (step.previousState) {
    case ItemState::Later:
      if (step.remindAt > 0) {
        KestrunDataWriter::deferItemsUntilDate(step.itemIds, step.remindAt, step.snoozeType, nullptr);
      } else if (step.snoozeType != SnoozeType::None) {
        KestrunDataWriter::deferItemsWithSnoozeType(step.itemIds, step.snoozeType, nullptr);
      }
      break;
    case ItemState::Inbox:
      KestrunDataWriter::activateItems(step.itemIds, nullptr);
      break;
    case ItemState::Archive:
      KestrunDataWriter::completeItems(step.itemIds, nullptr);
      break;
    case ItemState::Trash:
      KestrunDataWriter::deleteItems(step.itemIds, nullptr);
      break;
    case ItemState::List:
      KestrunDataWriter::associateItemsWithList(step.itemIds, step.listId, nullptr);
      break;
    case ItemState::Spam:
      KestrunDataWriter::spamifyItems(step.itemIds, nullptr);
      break;
    default:
      break;
  }
}

UndoManager::Step UndoManager::step() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return step_;
}

namespace {
ProcessInstance<UndoManager> instance;
}  // namespace

void undo_manager_set_instance(std::shared_ptr<UndoManager> manager) { instance.set(std::move(manager)); }

void undo_manager_record_action(std::shared_ptr<KSItem> item, ItemState action) {
  instance.call(&UndoManager::recordAction, std::move(item), action);
}
void undo_manager_clear() { instance.call(&UndoManager::clear); }
std::string undo_manager_alert_message_for_current_state() {
  return instance.call(&UndoManager::alertMessageForCurrentState);
}
bool undo_manager_has_action_to_undo() { return instance.call(&UndoManager::hasActionToUndo); }
void undo_manager_perform_undo_action() { instance.call(&UndoManager::performUndoAction); }
void undo_manager_lock() { instance.call(&UndoManager::lock); }
void undo_manager_unlock() { instance.call(&UndoManager::unlock); }

}  // namespace libkestrun
