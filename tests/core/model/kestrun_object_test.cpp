#include "core/model/kestrun_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/model/kestrun_context.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/model/pending_set.h"
#include "model_fixtures.h"

namespace {

using kestrun_test::CachingContext;

struct Flags {
  bool inserted, updated, deleted;
  bool operator==(const Flags&) const = default;
};

Flags flags_of(const KestrunObject& object) {
  return {object.isInserted(), object.isUpdated(), object.isDeleted()};
}

TEST(KestrunObjectTest, FlagRules) {
  CachingContext context;
  struct Case {
    const char* name;
    bool loaded;
    void (*change)(KestrunObject&);
    Flags expected;
  };
  const Case cases[] = {
      {"new stays new after setUpdated",
       false,
       [](KestrunObject& o) { o.setUpdated(true); },
       {true, false, false}},
      {"setDeleted clears new", false, [](KestrunObject& o) { o.setDeleted(true); }, {false, false, true}},
      {"deleted then updated is updated",
       true,
       [](KestrunObject& o) {
         o.setDeleted(true);
         o.setUpdated(true);
       },
       {false, true, false}},
      {"setInserted clears the others",
       true,
       [](KestrunObject& o) {
         o.setDeleted(true);
         o.setInserted(true);
       },
       {true, false, false}},
      {"setUpdated false on a loaded object",
       true,
       [](KestrunObject& o) { o.setUpdated(false); },
       {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto item = c.loaded ? std::make_shared<KSItem>(&context, libkestrun::internal::Item{})
                         : std::make_shared<KSItem>(&context);
    if (c.loaded) {
      item->setInserted(false);
      item->setUpdated(true);
    }
    c.change(*item);
    EXPECT_EQ(flags_of(*item), c.expected);
  }
}

// A clean object that changes, is deleted and then changes again is saved by an update.
TEST(KestrunObjectTest, DeletedObjectThatChangesIsUpdated) {
  CachingContext context;
  libkestrun::ChangeSet changes;
  auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "I1"));
  item->setItemID("I1");
  context.commit(changes);
  context.log.clear();

  context.deleteObject(item);
  item->setSubject("changed after the deletion");
  EXPECT_EQ(flags_of(*item), (Flags{false, true, false}));
  context.commit(changes);
  EXPECT_EQ(context.log, std::vector<std::string>{"updateItem:I1"});
}

TEST(KestrunObjectTest, TwoChangedColumnsQueueOnceAndAgainAfterCommit) {
  CachingContext context;
  libkestrun::ChangeSet changes;
  auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "I1"));
  item->setItemID("I1");
  context.commit(changes);
  ASSERT_EQ(context.pendingCount(), 0u);

  item->setSubject("one");
  item->setThreadRead(false);
  EXPECT_EQ(context.pendingCount(), 1u);
  EXPECT_EQ(item->changedColumnCount(), 2u);
  context.commit(changes);
  EXPECT_EQ(item->changedColumnCount(), 0u);
  EXPECT_EQ(flags_of(*item), (Flags{false, false, false}));

  item->setSubject("two");
  EXPECT_EQ(context.pendingCount(), 1u);
}

TEST(KestrunObjectTest, OrderOnIdIsBytewiseWithShorterFirst) {
  CachingContext context;
  std::vector<std::shared_ptr<KestrunObject>> objects;
  for (const char* id : {"B", "A10", "\xC3\xA9", "A1", "a"}) {
    auto item = std::make_shared<KSItem>(&context);
    item->setItemID(id);
    objects.push_back(item);
  }
  std::sort(objects.begin(), objects.end(), KestrunObject::OrderOnId());
  std::vector<std::string> ids;
  for (const auto& object : objects) ids.push_back(libkestrun::KestrunId()(object));
  // Bytes compare unsigned: a byte above 0x7F sorts after every ASCII letter.
  EXPECT_EQ(ids, (std::vector<std::string>{"A1", "A10", "B", "a", "\xC3\xA9"}));
}

TEST(KestrunObjectTest, DocumentTypesMapToTables) {
  const std::pair<const char*, const char*> cases[] = {
      {"email", "KSEMAIL"},
      {"item", "KSITEM"},
      {"devicelist", "KSLIST"},
      {"contact", "KSCONTACT"},
      {"list", "KSACCOUNTLIST"},
      {"auto_swipe", "KSAUTOSWIPE"},
      {"lists", ""},
      {"", ""},
      {"Item", ""},
  };
  for (const auto& [type, table] : cases) EXPECT_EQ(KestrunContext::tableForDocType(type), table) << type;
}

TEST(KestrunObjectTest, GeneratedIdsAreUpperCaseUuids) {
  const std::string a = KestrunObject::generateID();
  const std::string b = KestrunObject::generateID();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  EXPECT_EQ(a[14], '4');
  EXPECT_TRUE(std::none_of(a.begin(), a.end(), [](char c) { return c >= 'a' && c <= 'z'; }));
}

// The pending set keeps the order in which objects first joined, once each.
TEST(PendingSetTest, KeepsJoiningOrderOnceEach) {
  CachingContext context;
  std::vector<std::shared_ptr<KestrunObject>> objects;
  for (int i = 0; i < 4; ++i) objects.push_back(std::make_shared<KSItem>(&context));
  PendingSet pending;
  pending.add(objects[2]);
  pending.add(objects[0]);
  pending.add(objects[3]);
  pending.add(objects[2]);
  pending.add(objects[1]);
  pending.remove(objects[3].get());
  pending.remove(objects[3].get());
  EXPECT_TRUE(pending.contains(objects[1].get()));
  EXPECT_FALSE(pending.contains(objects[3].get()));
  EXPECT_EQ(pending.take(),
            (std::vector<std::shared_ptr<KestrunObject>>{objects[2], objects[0], objects[1]}));
  EXPECT_TRUE(pending.empty());
}

}  // namespace
