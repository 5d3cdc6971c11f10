// The three gesture tables, each checked whole, with the values around their ranges.
#include "core/model/gesture_tables.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace libkestrun;

ItemGestureContextType context(int value) { return static_cast<ItemGestureContextType>(value); }

TEST(GestureTablesTest, SwipeTableByContextAndType) {
  // Rows: contexts -1 to 12; columns: gesture types -1 to 5.
  const int expected[14][7] = {
      {0, 0, 0, 0, 0, 0, 0},  // -1
      {0, 0, 0, 0, 0, 0, 0},  // 0
      {0, 0, 1, 5, 2, 3, 0},  // 1 inbox
      {0, 0, 1, 5, 4, 2, 0},  // 2 later
      {0, 0, 4, 1, 3, 3, 0},  // 3 archive
      {0, 0, 2, 4, 6, 6, 0},  // 4 trash
      {0, 0, 1, 5, 2, 3, 0},  // 5 list
      {0, 0, 1, 5, 2, 3, 0},  // 6 one account's inbox
      {0, 0, 0, 0, 0, 0, 0},  // 7 sent
      {0, 0, 0, 0, 0, 0, 0},  // 8 auto-swiped
      {0, 0, 0, 0, 0, 0, 0},  // 9 search
      {0, 0, 2, 4, 6, 6, 0},  // 10 spam
      {0, 0, 0, 0, 0, 0, 0},  // 11 drafts
      {0, 0, 0, 0, 0, 0, 0},  // 12
  };
  GestureState (*const one_type[4])(ItemGestureContextType) = {
      gestureStateForShortNegativeSwipe, gestureStateForLongNegativeSwipe, gestureStateForShortPositiveSwipe,
      gestureStateForLongPositiveSwipe};
  for (int c = -1; c <= 12; ++c) {
    for (int type = -1; type <= 5; ++type) {
      EXPECT_EQ(static_cast<int>(gestureStateForGestureType(type, context(c))), expected[c + 1][type + 1])
          << "context " << c << ", type " << type;
    }
    for (int type = 1; type <= 4; ++type) {
      EXPECT_EQ(one_type[type - 1](context(c)), gestureStateForGestureType(type, context(c)))
          << "context " << c << ", type " << type;
    }
  }
}

TEST(GestureTablesTest, ButtonTableByItemState) {
  // Item states -1 to 10.
  const int expected[12] = {0, 0, 1, 4, 2, 3, 5, 0, 0, 0, 3, 0};
  for (int state = -1; state <= 10; ++state) {
    EXPECT_EQ(static_cast<int>(gestureStateForItemState(static_cast<ItemState>(state))), expected[state + 1])
        << "state " << state;
  }
}

TEST(GestureTablesTest, ItemStateByContext) {
  // Contexts -1 to 12.
  const int expected[14] = {0, 0, 2, 1, 3, 4, 5, 2, 0, 0, 0, 9, 0, 0};
  for (int c = -1; c <= 12; ++c) {
    EXPECT_EQ(static_cast<int>(itemStateForGestureContext(context(c))), expected[c + 1]) << "context " << c;
  }
}

TEST(GestureTablesTest, ForwardersAnswerThroughTheInstanceAndNoneWithout) {
  EXPECT_EQ(gesture_tables_gesture_state_for_gesture_type(1, ItemGestureContextType::Inbox),
            GestureState::None);
  EXPECT_EQ(gesture_tables_gesture_state_for_item_state(ItemState::Spam), GestureState::None);

  gesture_tables_set_instance(std::make_shared<GestureTables>());
  EXPECT_EQ(gesture_tables_gesture_state_for_gesture_type(1, ItemGestureContextType::Inbox),
            GestureState::Defer);
  EXPECT_EQ(gesture_tables_gesture_state_for_gesture_type(4, ItemGestureContextType::Archive),
            GestureState::Trash);
  EXPECT_EQ(gesture_tables_gesture_state_for_item_state(ItemState::Spam), GestureState::Trash);
  gesture_tables_set_instance(nullptr);
}

}  // namespace
