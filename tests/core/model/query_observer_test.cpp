#include "core/model/query_observer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/item_orderings.h"
#include "core/model/memory_context.h"

namespace {

using libkestrun::ConsumerChangeType;
using Object = std::shared_ptr<KestrunObject>;

Object item(const std::string& id, int64_t modifiedAt, libkestrun::ItemState state) {
  libkestrun::internal::Item row;
  row.set_ITEMID(id);
  row.set_MODIFIEDAT(modifiedAt);
  row.set_STATE(state);
  return std::make_shared<KSItem>(nullptr, row);
}

// An inbox-like query built the way item folders are: newest first, visible changes only, the
// observer made of four callbacks.
TEST(FnDataQueryObserverTest, ForwardsEachCallToItsCallback) {
  std::vector<std::string> calls;
  auto observer = std::make_shared<libkestrun::FnDataQueryObserver>(
      [&](const std::string& name, const std::vector<Object>& rows) {
        calls.push_back(name + " results " + std::to_string(rows.size()));
      },
      [&](const std::string& name) { calls.push_back(name + " begin"); },
      [&](const std::string& name, Object row, ConsumerChangeType type, int from, int to) {
        calls.push_back(name + " " + row->id() + " " + std::to_string(static_cast<int>(type)) + " " +
                        std::to_string(from) + " " + std::to_string(to));
      },
      [&](const std::string& name) { calls.push_back(name + " end"); });
  std::vector<Object> rows = {item("B", 200, libkestrun::ItemState::Inbox),
                              item("A", 100, libkestrun::ItemState::Inbox)};
  libkestrun::FnObjectQuery query(
      "inbox",
      [&](const std::string&, KestrunContext&) { return std::make_shared<std::vector<Object>>(rows); },
      KSItem::ModifiedAtDesc(), KSItem::ChangeIsUserVisible(), observer);
  MemoryContext context;
  query.context = &context;
  query.update();

  // A new save time and modification that keeps A's place: nothing to tell.
  rows[1] = item("A", 150, libkestrun::ItemState::Inbox);
  query.update({{ConsumerChangeType::Update, {"A"}}});
  // A change of state is shown.
  rows[1] = item("A", 150, libkestrun::ItemState::Archive);
  query.update({{ConsumerChangeType::Update, {"A"}}});
  EXPECT_EQ(calls, (std::vector<std::string>{"inbox results 2", "inbox begin", "inbox results 2",
                                             "inbox A 2 1 1", "inbox end"}));
}

}  // namespace
