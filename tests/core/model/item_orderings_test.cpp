#include "core/model/item_orderings.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace {

using libkestrun::DeferralBucket;
using libkestrun::internal::Item;
using libkestrun::internal::ItemAttr;
using libkestrun::internal::ItemTuple;
using Object = std::shared_ptr<KestrunObject>;

Object item(const std::string& id, int64_t modifiedAt = 0, DeferralBucket bucket = DeferralBucket::Desktop,
            int64_t remindAt = 0) {
  Item row;
  row.set_ITEMID(id);
  row.set_MODIFIEDAT(modifiedAt);
  row.set_DEFERRALBUCKET(bucket);
  row.set_REMINDAT(remindAt);
  return std::make_shared<KSItem>(nullptr, row);
}

TEST(ItemOrderingsTest, ModifiedAtDescending) {
  KSItem::ModifiedAtDesc before;
  auto newer = item("B", 200), older = item("A", 100), tie = item("C", 200);
  EXPECT_TRUE(before(newer, older));
  EXPECT_FALSE(before(older, newer));
  EXPECT_TRUE(before(newer, tie));  // equal times: by id
  EXPECT_FALSE(before(tie, newer));
  EXPECT_FALSE(before(newer, newer));
  EXPECT_EQ(KSItem::modified_at_desc(newer, tie), before(newer, tie));
  EXPECT_EQ(KSItem::modified_at_desc(older, newer), before(older, newer));
}

TEST(ItemOrderingsTest, DeferralByBucketThenReminderThenId) {
  KSItem::DeferralOrdering before;
  auto lateInBucket2 = item("Z", 0, DeferralBucket::LaterToday, 9000);
  auto earlyInBucket3 = item("A", 0, DeferralBucket::Tomorrow, 1);
  auto early = item("B", 0, DeferralBucket::LaterToday, 10);
  auto earlySameTime = item("C", 0, DeferralBucket::LaterToday, 10);
  EXPECT_TRUE(before(lateInBucket2, earlyInBucket3));
  EXPECT_FALSE(before(earlyInBucket3, lateInBucket2));
  EXPECT_TRUE(before(early, lateInBucket2));
  EXPECT_TRUE(before(early, earlySameTime));
  EXPECT_FALSE(before(early, early));
  EXPECT_EQ(KSItem::GetDeferralSection()(earlyInBucket3), DeferralBucket::Tomorrow);
}

// A value of the column's type that differs from `value`.
template <class V>
V other(const V& value) {
  if constexpr (std::is_same_v<V, std::string>) {
    return value + "x";
  } else if constexpr (std::is_same_v<V, std::set<std::string>>) {
    V changed = value;
    changed.insert("x");
    return changed;
  } else if constexpr (std::is_same_v<V, bool>) {
    return !value;
  } else if constexpr (std::is_enum_v<V>) {
    return static_cast<V>(static_cast<std::underlying_type_t<V>>(value) + 1);
  } else {
    return value + 1;
  }
}

template <size_t N>
void change_column(Item& row) {
  row.row.set<N>(other(std::get<N>(row.row.values)));
}

// Changes each column of a copy in turn: only MASTERREV, MODIFIEDAT, SAVEDAT and SYNCDATA are
// invisible.
TEST(ItemOrderingsTest, ChangeIsUserVisibleIgnoresOnlyFourColumns) {
  const std::set<size_t> invisible = {
      static_cast<size_t>(ItemAttr::MASTERREV), static_cast<size_t>(ItemAttr::MODIFIEDAT),
      static_cast<size_t>(ItemAttr::SAVEDAT), static_cast<size_t>(ItemAttr::SYNCDATA)};
  Item base;
  base.set_ITEMID("I");
  auto old_item = std::make_shared<KSItem>(nullptr, base);
  KSItem::ChangeIsUserVisible visible;
  EXPECT_FALSE(visible(old_item, std::make_shared<KSItem>(nullptr, base)));
  [&]<size_t... I>(std::index_sequence<I...>) {
    (
        [&] {
          Item row = base;
          change_column<I>(row);
          EXPECT_EQ(visible(old_item, std::make_shared<KSItem>(nullptr, row)), invisible.count(I) == 0)
              << "column " << Item::column_names.at(static_cast<ItemAttr>(I));
        }(),
        ...);
  }
  (std::make_index_sequence<std::tuple_size_v<ItemTuple>>{});

  // The four together are still invisible.
  Item row = base;
  row.set_MASTERREV(5);
  row.set_MODIFIEDAT(5);
  row.set_SAVEDAT(5);
  row.set_SYNCDATA("sync");
  EXPECT_FALSE(visible(old_item, std::make_shared<KSItem>(nullptr, row)));
}

}  // namespace
