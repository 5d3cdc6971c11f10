// The last triage step, kept so the user can undo it, as the data writer sees it. The data writer
// holds the manager's recursive mutex (lock/unlock) from before it clears the step until its last
// record; clear and recordAction take no lock themselves. The full manager implements this
// interface.
#pragma once

#include <memory>

#include "core/store/model_enums.h"

class KSItem;

namespace libkestrun {

class UndoManager {
 public:
  virtual ~UndoManager() = default;

  // The manager's recursive mutex, the one its own queries and its undo take.
  virtual void lock() = 0;
  virtual void unlock() = 0;
  // Forgets the recorded step: no items, no action, no list, remind time 0, snooze type 1.
  virtual void clear() = 0;
  // Adds the item to the step; the step's state becomes the item's current state (where an undo
  // returns to), its action `action`, its snooze type, remind time and list those of the item.
  virtual void recordAction(std::shared_ptr<KSItem> item, ItemState action) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing. A lock and its unlock must reach the same instance: the instance is replaced only
// while no data task runs.
void undo_manager_set_instance(std::shared_ptr<UndoManager> manager);

void undo_manager_lock();
void undo_manager_unlock();
void undo_manager_clear();
void undo_manager_record_action(std::shared_ptr<KSItem> item, ItemState action);

}  // namespace libkestrun
