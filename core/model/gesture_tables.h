// What a swipe or a toolbar button does, by the list the user is looking at: a short swipe that
// defers an inbox item returns an archived one to the inbox. These tables are the one place that
// decides it; they are pure functions of their arguments and any thread may call them.
#pragma once

#include <cstdint>
#include <memory>

#include "core/store/model_enums.h"

namespace libkestrun {

// The recogniser's result. The tables answer for the four swipes only.
enum class GestureType : int32_t {
  None = 0,
  ShortNegative = 1,
  LongNegative = 2,
  ShortPositive = 3,
  LongPositive = 4,
};

// The action a gesture or a toolbar button stands for.
enum class GestureState : int32_t {
  None = 0,
  Defer = 1,
  Archive = 2,
  Trash = 3,
  Inbox = 4,
  List = 5,
  DeleteForGood = 6,
};

// The list an item is shown in.
enum class ItemGestureContextType : int32_t {
  Inbox = 1,  // all accounts
  Later = 2,
  Archive = 3,
  Trash = 4,
  List = 5,
  AccountInbox = 6,
  Sent = 7,
  AutoSwiped = 8,
  Search = 9,
  Spam = 10,
  Drafts = 11,
};

// The action of a swipe in a list; None for a type other than the four swipes and in the lists
// where swiping does nothing (sent, auto-swiped, search, drafts).
GestureState gestureStateForGestureType(int gestureType, ItemGestureContextType context);
// The toolbar button that shows where an item is; None for states without one.
GestureState gestureStateForItemState(ItemState state);
// The item state a list shows; None for the lists that are not one state.
ItemState itemStateForGestureContext(ItemGestureContextType context);

// One swipe type each.
GestureState gestureStateForShortNegativeSwipe(ItemGestureContextType context);
GestureState gestureStateForLongNegativeSwipe(ItemGestureContextType context);
GestureState gestureStateForShortPositiveSwipe(ItemGestureContextType context);
GestureState gestureStateForLongPositiveSwipe(ItemGestureContextType context);

// The component the manager aggregate holds and registers as the process-wide instance; its
// lookups use no state of their own.
class GestureTables {
 public:
  GestureState gestureStateForGestureType(int gestureType, ItemGestureContextType context) const {
    return libkestrun::gestureStateForGestureType(gestureType, context);
  }
  GestureState gestureStateForItemState(ItemState state) const {
    return libkestrun::gestureStateForItemState(state);
  }
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// answer GestureState::None.
void gesture_tables_set_instance(std::shared_ptr<GestureTables> tables);

GestureState gesture_tables_gesture_state_for_gesture_type(int gestureType, ItemGestureContextType context);
GestureState gesture_tables_gesture_state_for_item_state(ItemState state);

}  // namespace libkestrun
