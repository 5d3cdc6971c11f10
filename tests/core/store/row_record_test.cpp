#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/store/auto_swipe_record.h"
#include "core/store/contact_record.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"
#include "core/store/item_record.h"
#include "core/store/list_records.h"

namespace libkestrun::internal {
namespace {

// Counts the callback's calls and remembers how many flags were set at each.
template <class Row>
struct Watched {
  Row row;
  std::vector<std::vector<size_t>> calls;

  Watched() {
    row.row.change_callback = [this] {
      std::vector<size_t> set;
      for (size_t i = 0; i < row.row.changed_flags.size(); ++i)
        if (row.row.changed_flags[i]) set.push_back(i);
      calls.push_back(set);
    };
  }
};

TEST(RowRecord, EqualValueChangesNothingAndADifferentOneFlagsOnce) {
  Watched<Item> item;
  item.row.set_SUBJECT("");
  item.row.set_DRAFTIDS({});
  item.row.set_STATE(ItemState::None);
  item.row.set_MASTERREV(0.0);
  EXPECT_TRUE(item.calls.empty());

  item.row.set_SUBJECT("hello");
  ASSERT_EQ(item.calls.size(), 1u);
  EXPECT_EQ(item.calls[0], std::vector<size_t>{23});  // the value is stored and flagged first
  EXPECT_TRUE(item.row.is_changed_SUBJECT());
  EXPECT_EQ(item.row.get_SUBJECT(), "hello");

  // Back to the loaded value: the flag is never cleared by a setter.
  item.row.set_SUBJECT("");
  EXPECT_EQ(item.calls.size(), 2u);
  EXPECT_TRUE(item.row.is_changed_SUBJECT());

  item.row.set_DRAFTIDS({"b", "a"});
  item.row.set_DRAFTIDS({"a", "b"});
  EXPECT_EQ(item.calls.size(), 3u);
  EXPECT_TRUE(item.row.is_changed_DRAFTIDS());
  EXPECT_EQ(item.calls.back(), (std::vector<size_t>{23, 26}));
}

TEST(RowRecord, DoubleEqualityIsIeee) {
  Watched<Item> item;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  item.row.set_MASTERREV(nan);
  item.row.set_MASTERREV(nan);
  EXPECT_EQ(item.calls.size(), 2u);  // NaN equals nothing, not even NaN
  EXPECT_TRUE(item.row.is_changed_MASTERREV());

  Watched<Item> zero;
  zero.row.set_MASTERREV(-0.0);  // equal to the default 0.0
  EXPECT_TRUE(zero.calls.empty());
  zero.row.set_MASTERREV(1.0);
  zero.row.set_MASTERREV(-0.0);
  zero.row.set_MASTERREV(0.0);
  EXPECT_EQ(zero.calls.size(), 2u);
  EXPECT_TRUE(std::signbit(zero.row.get_MASTERREV()));  // 0.0 over -0.0 stored nothing

  Watched<Item> revision;
  revision.row.set_MASTERREV(100.0);
  revision.row.row.changed_flags = {};
  revision.row.set_MASTERREV(200.0);
  revision.row.set_MASTERREV(200.0);
  EXPECT_EQ(revision.calls.size(), 2u);
  EXPECT_EQ(revision.calls.back(), std::vector<size_t>{16});
}

TEST(RowRecord, StructuredColumnsCompareByValue) {
  Watched<Draft> draft;
  draft.row.set_version(VectorClock());
  draft.row.set_to({});
  draft.row.set_from(EmailName());
  draft.row.set_item_id(std::nullopt);
  EXPECT_TRUE(draft.calls.empty());

  draft.row.set_version(VectorClock({{"A", 1}}));
  draft.row.set_version(VectorClock({{"A", 1}}));
  draft.row.set_to({EmailName("N", "n@x")});
  draft.row.set_to({EmailName("N", "n@x")});
  draft.row.set_item_id(std::string());  // present and empty differs from absent
  draft.row.set_item_id(std::string());
  EXPECT_EQ(draft.calls.size(), 3u);
  EXPECT_TRUE(draft.row.is_changed_version());
  EXPECT_TRUE(draft.row.is_changed_to());
  EXPECT_TRUE(draft.row.is_changed_item_id());
  EXPECT_FALSE(draft.row.is_changed_cc());
}

TEST(RowRecord, SetAllFromFlagsTheDifferingColumnsHighestFirst) {
  Item source;
  source.set_AUTOSWIPESTATE(AutoSwipeRuleState::Active);  // column 5
  source.set_EMAILCOUNT(3);                               // column 10
  Watched<Item> target;
  target.row.row._set_all_from<37>(source.row);
  ASSERT_EQ(target.calls.size(), 2u);
  EXPECT_EQ(target.calls[0], std::vector<size_t>{10});
  EXPECT_EQ(target.calls[1], (std::vector<size_t>{5, 10}));
  EXPECT_EQ(target.row.get_EMAILCOUNT(), 3);

  Watched<Item> equal;
  equal.row.row._set_all_from<37>(Item().row);
  EXPECT_TRUE(equal.calls.empty());
}

TEST(RowRecord, ACallbackThatThrowsFindsTheValueStored) {
  UserList list;
  list.row.change_callback = [] { throw std::runtime_error("owner failed"); };
  EXPECT_THROW(list.set_NAME("n"), std::runtime_error);
  EXPECT_EQ(list.get_NAME(), "n");
  EXPECT_TRUE(list.is_changed_NAME());
}

TEST(RowRecord, CopyCarriesFlagsAndCallback) {
  int calls = 0;
  AutoSwipe rule;
  rule.row.change_callback = [&calls] { ++calls; };
  rule.set_COUNT(4);
  AutoSwipe copy = rule;
  EXPECT_TRUE(copy.is_changed_COUNT());
  copy.set_VALUE("a@b");
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(rule.is_changed_VALUE());
}

TEST(RowRecord, DefaultsAreValueInitialised) {
  const Item item;
  EXPECT_EQ(item.get_ITEMID(), "");
  EXPECT_TRUE(item.get_DRAFTIDS().empty());
  EXPECT_EQ(item.get_TYPE(), ItemType{0});
  EXPECT_EQ(item.get_MASTERREV(), 0.0);
  for (bool flag : item.row.changed_flags) EXPECT_FALSE(flag);

  const Draft draft;
  EXPECT_FALSE(draft.get_item_id().has_value());
  EXPECT_EQ(draft.get_from(), EmailName());
  EXPECT_TRUE(draft.get_version().entries().empty());
  EXPECT_EQ(draft.get_type(), EmailSendType{0});
}

// The invariant the statements rest on: enumerator value = position = name-map key, and the link
// records flag CONTACTID as 0 and EMAILID as 1.
template <class Row>
void expect_description(const std::string& table, size_t columns, const std::vector<std::string>& key) {
  EXPECT_EQ(Row::table_name, table);
  EXPECT_EQ(Row::column_names.size(), columns);
  EXPECT_EQ(std::tuple_size_v<typename Row::tuple_type>, columns);
  size_t position = 0;
  for (const auto& [column, name] : Row::column_names) EXPECT_EQ(static_cast<size_t>(column), position++);
  std::vector<std::string> key_names;
  for (auto column : Row::primary_key) key_names.push_back(Row::column_names.at(column));
  EXPECT_EQ(key_names, key) << table;
}

TEST(RowRecord, StaticDescriptions) {
  expect_description<Item>("KSITEM", 38, {"ITEMID"});
  expect_description<Email>("KSEMAIL", 25, {"EMAILID"});
  expect_description<ToEmails>("TOEMAILS", 2, {"CONTACTID", "EMAILID"});
  expect_description<CcEmails>("CCEMAILS", 2, {"CONTACTID", "EMAILID"});
  expect_description<BccEmails>("BCCEMAILS", 2, {"CONTACTID", "EMAILID"});
  expect_description<Draft>("Draft", 17, {"draft_id"});
  expect_description<AutoSwipe>("KSAUTOSWIPE", 12, {"AUTOSWIPEID"});
  expect_description<List>("KSACCOUNTLIST", 8, {"LISTID"});
  expect_description<UserList>("KSLIST", 4, {"LISTID"});
  expect_description<LocalContact>("KSCONTACT", 7, {"CONTACTID"});

  EXPECT_EQ(Item::column_names.at(ItemAttr::MASTERREV), "MASTERREV");
  EXPECT_EQ(static_cast<int>(ItemAttr::DRAFTIDS), 26);
  EXPECT_EQ(static_cast<int>(ItemAttr::TYPE), 37);
  EXPECT_EQ(static_cast<int>(EmailAttr::MFROMID), 14);
  EXPECT_EQ(static_cast<int>(UserListAttr::ORDERKEY), 3);

  CcEmails link;
  link.set_CONTACTID("c");
  link.set_EMAILID("e");
  EXPECT_TRUE(link.row.changed_flags[0] && link.row.changed_flags[1]);
}

}  // namespace
}  // namespace libkestrun::internal
