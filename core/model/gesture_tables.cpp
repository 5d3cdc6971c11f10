#include "core/model/gesture_tables.h"

#include <cstddef>

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {

using G = GestureState;

// By context 1 to 11, then by gesture type 1 to 4.
constexpr GestureState kSwipeTable[11][4] = {
    {G::Defer, G::List, G::Archive, G::Trash},                   // inbox
    {G::Defer, G::List, G::Inbox, G::Archive},                   // later
    {G::Inbox, G::Defer, G::Trash, G::Trash},                    // archive
    {G::Archive, G::Inbox, G::DeleteForGood, G::DeleteForGood},  // trash
    {G::Defer, G::List, G::Archive, G::Trash},                   // list
    {G::Defer, G::List, G::Archive, G::Trash},                   // one account's inbox
    {G::None, G::None, G::None, G::None},                        // sent
    {G::None, G::None, G::None, G::None},                        // auto-swiped
    {G::None, G::None, G::None, G::None},                        // search
    {G::Archive, G::Inbox, G::DeleteForGood, G::DeleteForGood},  // spam
    {G::None, G::None, G::None, G::None},                        // drafts
};

// By item state 1 to 9. A spam item shows the trash button.
constexpr GestureState kButtonTable[9] = {
    G::Defer, G::Inbox, G::Archive, G::Trash, G::List, G::None, G::None, G::None, G::Trash,
};

// By context 1 to 10.
constexpr ItemState kContextStateTable[10] = {
    ItemState::Inbox, ItemState::Later, ItemState::Archive, ItemState::Trash, ItemState::List,
    ItemState::Inbox, ItemState::None,  ItemState::None,    ItemState::None,  ItemState::Spam,
};

// The 0-based row of a 1-based value, or -1 when it is outside 1..count. Out-of-range values come
// from integers cast to the enumerations (the server or the application may send any number).
template <class Value>
std::ptrdiff_t row(Value value, std::ptrdiff_t count) {
  auto n = static_cast<std::ptrdiff_t>(value);
  return n >= 1 && n <= count ? n - 1 : -1;
}

ProcessInstance<GestureTables> instance;

}  // namespace

GestureState gestureStateForGestureType(int gestureType, ItemGestureContextType context) {
  std::ptrdiff_t r = row(context, 11);
  std::ptrdiff_t c = row(gestureType, 4);
  return r < 0 || c < 0 ? GestureState::None : kSwipeTable[r][c];
}

GestureState gestureStateForItemState(ItemState state) {
  std::ptrdiff_t r = row(state, 9);
  return r < 0 ? GestureState::None : kButtonTable[r];
}

ItemState itemStateForGestureContext(ItemGestureContextType context) {
  std::ptrdiff_t r = row(context, 10);
  return r < 0 ? ItemState::None : kContextStateTable[r];
}

GestureState gestureStateForShortNegativeSwipe(ItemGestureContextType context) {
  return gestureStateForGestureType(static_cast<int>(GestureType::ShortNegative), context);
}
GestureState gestureStateForLongNegativeSwipe(ItemGestureContextType context) {
  return gestureStateForGestureType(static_cast<int>(GestureType::LongNegative), context);
}
GestureState gestureStateForShortPositiveSwipe(ItemGestureContextType context) {
  return gestureStateForGestureType(static_cast<int>(GestureType::ShortPositive), context);
}
GestureState gestureStateForLongPositiveSwipe(ItemGestureContextType context) {
  return gestureStateForGestureType(static_cast<int>(GestureType::LongPositive), context);
}

void gesture_tables_set_instance(std::shared_ptr<GestureTables> tables) { instance.set(std::move(tables)); }

GestureState gesture_tables_gesture_state_for_gesture_type(int gestureType, ItemGestureContextType context) {
  return instance.call(&GestureTables::gestureStateForGestureType, gestureType, context);
}

GestureState gesture_tables_gesture_state_for_item_state(ItemState state) {
  return instance.call(&GestureTables::gestureStateForItemState, state);
}

}  // namespace libkestrun
