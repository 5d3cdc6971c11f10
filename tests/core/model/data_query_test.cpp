#include "core/model/data_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/model/memory_context.h"

namespace {

using libkestrun::ChangeSpec;
using libkestrun::ConsumerChangeType;
using libkestrun::TableChangeSet;
using Type = ConsumerChangeType;

// A row with an id, a sort key and a payload that the filter looks at.
struct Row {
  std::string id;
  int key = 0;
  int payload = 0;
};
struct RowId {
  std::string operator()(const Row& row) const { return row.id; }
};
using Query = libkestrun::DataQuery<Row, RowId>;
using Ordering = std::function<bool(const Row&, const Row&)>;

bool by_key(const Row& a, const Row& b) { return a.key != b.key ? a.key < b.key : a.id < b.id; }
bool payload_differs(const Row& a, const Row& b) { return a.payload != b.payload; }

TableChangeSet changed(Type kind, std::initializer_list<std::string> ids) { return {{kind, ids}}; }

using Removals = std::vector<std::pair<Type, int>>;
using Insertions = std::vector<std::pair<Type, int>>;
using Updates = std::vector<std::pair<int, int>>;

struct CalcCase {
  const char* what;
  std::vector<Row> old_rows;
  std::vector<Row> new_rows;
  TableChangeSet changes;
  Ordering ordering;
  Removals removals;
  Insertions insertions;
  Updates updates;
};

TEST(CalcChangesTest, Cases) {
  const Row a{"A", 10}, b{"B", 20}, c{"C", 30};
  const Ordering never = [](const Row&, const Row&) { return false; };
  const std::vector<CalcCase> cases = {
      {"empty to empty", {}, {}, {}, by_key, {}, {}, {}},
      {"empty to three",
       {},
       {a, b, c},
       {},
       by_key,
       {},
       {{Type::Insert, 0}, {Type::Insert, 1}, {Type::Insert, 2}},
       {}},
      {"all removed",
       {a, b, c},
       {},
       {},
       by_key,
       {{Type::Delete, 0}, {Type::Delete, 1}, {Type::Delete, 2}},
       {},
       {}},
      {"C moves to the front",
       {a, b, c},
       {{"C", 0}, a, b},
       changed(Type::Update, {"C"}),
       by_key,
       {{Type::MovedOut, 2}},
       {{Type::MovedIn, 0}},
       {}},
      {"C moves, A and B changed visibly",
       {a, b, c},
       {{"C", 0}, {"A", 10, 1}, {"B", 20, 1}},
       changed(Type::Update, {"A", "B", "C"}),
       by_key,
       {{Type::MovedOut, 2}},
       {{Type::MovedIn, 0}},
       {{0, 1}, {1, 2}}},
      {"A and B changed but not in the change set",
       {a, b, c},
       {{"C", 0}, {"A", 10, 1}, {"B", 20, 1}},
       changed(Type::Update, {"C"}),
       by_key,
       {{Type::MovedOut, 2}},
       {{Type::MovedIn, 0}},
       {}},
      {"B replaced by X",
       {a, b, c},
       {a, {"X", 15}, c},
       changed(Type::Insert, {"X"}),
       by_key,
       {{Type::Delete, 1}},
       {{Type::Insert, 1}},
       {}},
      {"an inserted id already in place is an update",
       {a, b},
       {a, {"B", 20, 7}},
       changed(Type::Insert, {"B"}),
       by_key,
       {},
       {},
       {{1, 1}}},
      {"a deleted id still in place is an update",
       {a, b},
       {a, {"B", 20, 7}},
       changed(Type::Delete, {"B"}),
       by_key,
       {},
       {},
       {{1, 1}}},
      {"an invisible change is no update",
       {a, b},
       {a, b},
       changed(Type::Update, {"A", "B"}),
       by_key,
       {},
       {},
       {}},
      {"keys other than the commit's are ignored",
       {a},
       {{"A", 10, 1}},
       changed(Type::MovedIn, {"A"}),
       by_key,
       {},
       {},
       {}},
      {"duplicate old ids use the first",
       {{"A", 10, 0}, {"A", 10, 9}},
       {{"A", 10, 9}, {"A", 10, 9}},
       changed(Type::Update, {"A"}),
       by_key,
       {},
       {},
       {{0, 0}, {0, 1}}},
      {"a tie takes the new row first",
       {a, b},
       {b, a},
       {},
       never,
       {{Type::MovedOut, 1}},
       {{Type::MovedIn, 0}},
       {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    ChangeSpec spec =
        Query::_calc_changes(test.changes, test.old_rows, test.new_rows, test.ordering, payload_differs);
    EXPECT_EQ(spec.removals, test.removals);
    EXPECT_EQ(spec.insertions, test.insertions);
    EXPECT_EQ(spec.updates, test.updates);
  }
}

// Over random results, orderings and change sets: replaying the removals (descending) and then the
// insertions (ascending) on the old ids gives the new ids; no moved row is an update; an update is
// a row that kept its id, is in the change set and passes the filter.
TEST(CalcChangesTest, ReplayGivesTheNewRows) {
  std::mt19937 random(20261211);
  const std::vector<std::pair<const char*, Ordering>> orderings = {
      {"key ascending", by_key},
      {"key descending",
       [](const Row& a, const Row& b) { return a.key != b.key ? a.key > b.key : a.id < b.id; }},
      {"key descending, ties both ways", [](const Row& a, const Row& b) { return a.key >= b.key; }},
      {"no order", [](const Row&, const Row&) { return false; }},
  };
  auto make_rows = [&](const Ordering& ordering) {
    std::vector<Row> rows;
    for (int n = 0; n < 12; ++n) {
      if (random() % 3 == 0) continue;
      rows.push_back({std::string(1, static_cast<char>('a' + n)), static_cast<int>(random() % 5),
                      static_cast<int>(random() % 2)});
    }
    std::shuffle(rows.begin(), rows.end(), random);
    // A sort by a strict form of the ordering: the fetch's order.
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row& x, const Row& y) { return ordering(x, y) && !ordering(y, x); });
    return rows;
  };
  for (const auto& [name, ordering] : orderings) {
    SCOPED_TRACE(name);
    for (int round = 0; round < 300; ++round) {
      const std::vector<Row> old_rows = make_rows(ordering);
      const std::vector<Row> new_rows = make_rows(ordering);
      TableChangeSet changes;
      for (int n = 0; n < 12; ++n) {
        if (random() % 2)
          changes[static_cast<Type>(1 + random() % 3)].insert(std::string(1, static_cast<char>('a' + n)));
      }
      ChangeSpec spec = Query::_calc_changes(changes, old_rows, new_rows, ordering, payload_differs);

      std::vector<std::string> ids;
      for (const Row& row : old_rows) ids.push_back(row.id);
      for (auto it = spec.removals.rbegin(); it != spec.removals.rend(); ++it)
        ids.erase(ids.begin() + it->second);
      for (const auto& [type, index] : spec.insertions) ids.insert(ids.begin() + index, new_rows[index].id);
      std::vector<std::string> expected;
      for (const Row& row : new_rows) expected.push_back(row.id);
      ASSERT_EQ(ids, expected) << "round " << round;

      std::set<std::string> moved;
      for (const auto& [type, index] : spec.removals) {
        if (type == Type::MovedOut) moved.insert(old_rows[index].id);
      }
      for (const auto& [type, index] : spec.insertions) {
        if (type == Type::MovedIn) moved.insert(new_rows[index].id);
      }
      for (const auto& [old_index, new_index] : spec.updates) {
        const std::string& id = new_rows[new_index].id;
        EXPECT_EQ(old_rows[old_index].id, id);
        EXPECT_EQ(moved.count(id), 0u) << id << " moved and updated, round " << round;
        EXPECT_TRUE(payload_differs(old_rows[old_index], new_rows[new_index]));
      }
    }
  }
}

// Records every observer call as one line.
class Recorder : public libkestrun::DataQueryObserver<Row> {
 public:
  void set_results(const std::string& name, const std::vector<Row>& rows) override {
    std::string line = name + " results";
    for (const Row& row : rows) line += " " + row.id;
    calls.push_back(line);
  }
  void begin_changes(const std::string& name) override { calls.push_back(name + " begin"); }
  void item_changed(const std::string& name, Row row, Type type, int old_index, int new_index) override {
    calls.push_back(name + " " + row.id + " " + std::to_string(static_cast<int>(type)) + " " +
                    std::to_string(old_index) + " " + std::to_string(new_index));
  }
  void end_changes(const std::string& name) override { calls.push_back(name + " end"); }

  std::vector<std::string> calls;
};

class DataQueryTest : public ::testing::Test {
 protected:
  using Fn = libkestrun::FnDataQuery<Row, RowId>;

  DataQueryTest()
      : query_(
            "q",
            [this](const std::string& name, KestrunContext& context) {
              EXPECT_EQ(name, "q");
              EXPECT_EQ(&context, &context_);
              if (fail_) throw std::runtime_error("fetch failed");
              return std::make_shared<std::vector<Row>>(rows_);
            },
            by_key, payload_differs, recorder_) {
    query_.context = &context_;
  }

  MemoryContext context_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
  std::vector<Row> rows_;
  bool fail_ = false;
  Fn query_;
};

TEST_F(DataQueryTest, FirstPassOnlySetsResults) {
  rows_ = {{"A", 1}, {"B", 2}};
  query_.update();
  EXPECT_EQ(recorder_->calls, (std::vector<std::string>{"q results A B"}));
  ASSERT_TRUE(query_.results);
  EXPECT_EQ(query_.results->size(), 2u);
}

TEST_F(DataQueryTest, PassReportsInOrder) {
  struct PassCase {
    const char* what;
    std::vector<Row> before;
    std::vector<Row> after;
    TableChangeSet changes;
    std::vector<std::string> calls;
  };
  const std::vector<PassCase> cases = {
      {"removal, insertion and update",
       {{"A", 10}, {"B", 20}, {"C", 30}, {"D", 40}},
       {{"A", 10}, {"X", 15}, {"C", 30}, {"D", 40, 1}},
       changed(Type::Update, {"D"}),
       {"q begin", "q results A X C D", "q B 3 1 -1", "q X 1 -1 1", "q D 2 3 3", "q end"}},
      {"from nothing",
       {},
       {{"A", 1}, {"B", 2}},
       {},
       {"q begin", "q results A B", "q A 1 -1 0", "q B 1 -1 1", "q end"}},
      {"everything gone, highest index first",
       {{"A", 1}, {"B", 2}, {"C", 3}},
       {},
       {},
       {"q begin", "q results", "q C 3 2 -1", "q B 3 1 -1", "q A 3 0 -1", "q end"}},
      {"a move",
       {{"A", 1}, {"B", 2}},
       {{"B", 0}, {"A", 1}},
       {},
       {"q begin", "q results B A", "q B 6 1 -1", "q B 5 -1 0", "q end"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    rows_ = test.before;
    query_.update();
    recorder_->calls.clear();
    rows_ = test.after;
    query_.update(test.changes);
    EXPECT_EQ(recorder_->calls, test.calls);
    ASSERT_TRUE(query_.results);
    EXPECT_EQ(query_.results->size(), test.after.size());
  }
}

TEST_F(DataQueryTest, PassWithoutChangesKeepsTheOldRows) {
  rows_ = {{"A", 1, 0}, {"B", 2, 0}};
  query_.update();
  auto first = query_.results;
  recorder_->calls.clear();
  // B's payload differs, but B is not in the change set.
  rows_ = {{"A", 1, 0}, {"B", 2, 5}};
  query_.update(changed(Type::Update, {"A"}));
  EXPECT_TRUE(recorder_->calls.empty());
  EXPECT_EQ(query_.results, first);
  EXPECT_EQ((*query_.results)[1].payload, 0);
}

TEST_F(DataQueryTest, FailedFetchLeavesRowsAndObserverUntouched) {
  rows_ = {{"A", 1}};
  query_.update();
  auto first = query_.results;
  recorder_->calls.clear();
  fail_ = true;
  EXPECT_THROW(query_.update(changed(Type::Update, {"A"})), std::runtime_error);
  EXPECT_EQ(query_.results, first);
  EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(DataQueryTest, DefaultFilterCountsEveryChange) {
  Fn plain(
      "q", [this](const std::string&, KestrunContext&) { return std::make_shared<std::vector<Row>>(rows_); },
      by_key, recorder_);
  plain.context = &context_;
  rows_ = {{"A", 1}};
  plain.update();
  recorder_->calls.clear();
  plain.update(changed(Type::Update, {"A"}));
  EXPECT_EQ(recorder_->calls, (std::vector<std::string>{"q begin", "q results A", "q A 2 0 0", "q end"}));
}

}  // namespace
