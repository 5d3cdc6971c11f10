#include "core/model/section_adapter.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/model/data_query.h"
#include "core/model/item_orderings.h"
#include "core/model/memory_context.h"

namespace {

using libkestrun::ConsumerChangeType;
using libkestrun::DeferralBucket;
using libkestrun::SectionPosition;
using Object = std::shared_ptr<KestrunObject>;
using Type = ConsumerChangeType;

std::string pos(SectionPosition p) {
  return "(" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
}

class SectionRecorder : public libkestrun::SectionQueryObserver<DeferralBucket, Object> {
 public:
  explicit SectionRecorder(std::vector<std::string>* calls) : calls_(calls) {}
  void set_results(const std::string&, const Sections& sections) override {
    std::string line = "results";
    for (const auto& [key, rows] : sections) {
      line += " " + std::to_string(static_cast<int>(key)) + ":";
      for (const auto& row : rows) line += row->id();
    }
    calls_->push_back(line);
  }
  void begin_changes(const std::string&) override { calls_->push_back("begin"); }
  void item_changed(const std::string&, Object row, Type type, SectionPosition from,
                    SectionPosition to) override {
    calls_->push_back(row->id() + " " + std::to_string(static_cast<int>(type)) + " " + pos(from) + " " +
                      pos(to));
  }
  void section_changed(const std::string&, const DeferralBucket& key, Type type, int from, int to) override {
    calls_->push_back("section " + std::to_string(static_cast<int>(key)) + " " +
                      std::to_string(static_cast<int>(type)) + " " + std::to_string(from) + " " +
                      std::to_string(to));
  }
  void end_changes(const std::string&) override { calls_->push_back("end"); }

 private:
  std::vector<std::string>* calls_;
};

using Adapter =
    libkestrun::SectionQueryObserverAdapter<KSItem::DeferralSection, Object, KSItem::GetDeferralSection,
                                            KSItem::DeferralOrdering, std::equal_to<>>;

// The deferred list as it is registered: an item query whose observer is the adapter.
class SectionAdapterTest : public ::testing::Test {
 protected:
  SectionAdapterTest()
      : adapter_(std::make_shared<Adapter>(std::make_unique<SectionRecorder>(&calls_))),
        query_(
            "later",
            [this](const std::string&, KestrunContext&) {
              auto rows = std::make_shared<std::vector<Object>>(rows_);
              std::sort(rows->begin(), rows->end(), KSItem::DeferralOrdering());
              return rows;
            },
            KSItem::DeferralOrdering(), adapter_) {
    query_.context = &context_;
  }

  static Object item(const std::string& id, int bucket, int64_t remindAt) {
    libkestrun::internal::Item row;
    row.set_ITEMID(id);
    row.set_DEFERRALBUCKET(static_cast<DeferralBucket>(bucket));
    row.set_REMINDAT(remindAt);
    return std::make_shared<KSItem>(nullptr, row);
  }

  void pass(std::vector<Object> rows, std::initializer_list<std::string> changed) {
    rows_ = std::move(rows);
    calls_.clear();
    query_.update({{Type::Update, changed}});
  }

  MemoryContext context_;
  std::vector<std::string> calls_;
  std::shared_ptr<Adapter> adapter_;
  std::vector<Object> rows_;
  libkestrun::FnObjectQuery query_;
};

TEST_F(SectionAdapterTest, RepeatedKeysOpenNewSections) {
  // Given out of query order on purpose: the adapter only groups consecutive keys.
  calls_.clear();
  adapter_->set_results("later", {item("a", 2, 1), item("b", 2, 2), item("c", 3, 3), item("d", 2, 4)});
  EXPECT_EQ(calls_, (std::vector<std::string>{"results 2:ab 3:c 2:d"}));
  calls_.clear();
  adapter_->set_results("later", {});
  EXPECT_EQ(calls_, (std::vector<std::string>{"results"}));
}

TEST_F(SectionAdapterTest, FirstPassGivesOnlyResults) {
  rows_ = {item("a", 2, 1), item("b", 3, 1)};
  query_.update();
  EXPECT_EQ(calls_, (std::vector<std::string>{"results 2:a 3:b"}));
}

TEST_F(SectionAdapterTest, UpdateInPlaceStaysOneUpdate) {
  rows_ = {item("a", 2, 1), item("b", 2, 2)};
  query_.update();
  pass({item("a", 2, 1), item("b", 2, 2)}, {"b"});
  EXPECT_EQ(calls_, (std::vector<std::string>{"begin", "results 2:ab", "b 2 (0,1) (0,1)", "end"}));
}

TEST_F(SectionAdapterTest, ShiftedUpdateBecomesAMove) {
  rows_ = {item("a", 2, 1), item("b", 2, 2), item("c", 2, 3), item("d", 2, 4)};
  query_.update();
  // "c2" enters before "d", which shifts from (0,3) to (0,4) and is in the change set.
  pass({item("a", 2, 1), item("b", 2, 2), item("c", 2, 3), item("c2", 2, 3), item("d", 2, 4)}, {"d"});
  EXPECT_EQ(calls_, (std::vector<std::string>{"begin", "results 2:abcc2d", "c2 1 (-1,-1) (0,3)",
                                              "d 6 (0,3) (-1,-1)", "d 5 (-1,-1) (0,4)", "end"}));
}

TEST_F(SectionAdapterTest, EmptiedAndNewBucketsAreReported) {
  rows_ = {item("a", 2, 1), item("b", 3, 1), item("c", 5, 1)};
  query_.update();
  // Bucket 3 empties, bucket 4 gains its first item; 2 and 5 stay whatever happens to their rows.
  pass({item("a", 2, 1), item("x", 2, 2), item("d", 4, 1), item("c", 5, 1)}, {});
  EXPECT_EQ(calls_, (std::vector<std::string>{"begin", "results 2:ax 4:d 5:c", "b 3 (1,0) (-1,-1)",
                                              "x 1 (-1,-1) (0,1)", "d 1 (-1,-1) (1,0)", "section 3 3 1 -1",
                                              "section 4 1 -1 1", "end"}));
}

TEST_F(SectionAdapterTest, IndexesOutsideThePositionsMapToNone) {
  adapter_->set_results("later", {item("a", 2, 1)});
  calls_.clear();
  adapter_->item_changed("later", item("a", 2, 1), Type::Delete, 0, -1);
  adapter_->item_changed("later", item("z", 2, 1), Type::Insert, -1, 7);
  EXPECT_EQ(calls_, (std::vector<std::string>{"a 3 (-1,-1) (-1,-1)", "z 1 (-1,-1) (-1,-1)"}));
}

}  // namespace
