// The last triage step (archive, trash, defer, file into a list, back to the inbox, spam) of one
// or several items, kept in memory so the user can undo it: the question the application asks
// first, and the opposite step.
//
// Every data-writer triage task, on the core thread, takes the manager's recursive mutex (lock),
// clears the record, records each item before changing it, and unlocks, so a reader never sees
// half a step. Apart from the ids, the record describes the last recorded item: a step over items
// from different places is undone as if all came from the last one's place.
//
// Threads: the data writer on the core thread; the facade reads and undoes from the application's
// thread. mutex_ guards the record; it is recursive because performUndoAction asks
// hasActionToUndo while holding it, and the data writer holds it across clear and recordAction.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/foundation/notification_center.h"
#include "core/store/model_enums.h"

class KSItem;

namespace libkestrun {

extern const char* const kUndoWasCommitted;  // "com.kestrun.undo.was.committed"

class UndoManager {
 public:
  // Without a centre nothing is posted (the recording stand-ins of tests pass none).
  explicit UndoManager(std::shared_ptr<NotificationCenter> center);
  UndoManager(const UndoManager&) = delete;
  UndoManager& operator=(const UndoManager&) = delete;
  virtual ~UndoManager() = default;

  // The manager's recursive mutex, the one its own queries and its undo take.
  virtual void lock();
  virtual void unlock();
  // Forgets the recorded step: no items, no action, no list, remind time 0, snooze type 1. Takes
  // no lock: the data writer holds it.
  virtual void clear();
  // Adds the item, read before it changes: the step's state becomes the item's current state
  // (where an undo returns to), its action `action`, its snooze type and remind time those of the
  // item, and its list the item's list when it is filed in one. Takes no lock.
  virtual void recordAction(std::shared_ptr<KSItem> item, ItemState action);

  virtual bool hasActionToUndo();
  // "Are you sure you want to undo that, and move 1 item from Archive back to Inbox?" in the
  // current language; "" when there is nothing to undo.
  virtual std::string alertMessageForCurrentState();
  // The localized name of the folder of an item state; "Unknown" for a state without one.
  virtual std::string folderName(ItemState state);
  // When there is a step to undo, starts the opposite step and posts kUndoWasCommitted (JSON
  // null). The record is not cleared here: the opposite step records itself when it runs. Does not
  // wait for the core thread.
  virtual void performUndoAction();

  // The recorded step, for the opposite step and for tests.
  struct Step {
    std::vector<std::string> itemIds;
    ItemState previousState = ItemState::None;
    ItemState action = ItemState::None;
    std::string listId;
    int64_t remindAt = 0;
    SnoozeType snoozeType = SnoozeType::None;

    bool operator==(const Step& other) const = default;
  };
  Step step();

 protected:
  // Queues the data writer's batch operation that returns the step's items to the state they came
  // from: a deferral again (by its remind time, else its snooze type), the inbox, the archive, the
  // trash or spam. A deferral without either and other states start nothing. Called under mutex_.
  virtual void startOppositeStep(const Step& step);

 private:
  std::shared_ptr<NotificationCenter> notificationCenter_;
  std::recursive_mutex mutex_;
  Step step_;  // guarded by mutex_
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false or "". A lock and its unlock must reach the same instance: the
// instance is replaced only while no data task runs.
void undo_manager_set_instance(std::shared_ptr<UndoManager> manager);

void undo_manager_record_action(std::shared_ptr<KSItem> item, ItemState action);
void undo_manager_clear();
std::string undo_manager_alert_message_for_current_state();
bool undo_manager_has_action_to_undo();
void undo_manager_perform_undo_action();
void undo_manager_lock();
void undo_manager_unlock();

}  // namespace libkestrun
