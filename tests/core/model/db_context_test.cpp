// The database context's lifecycle, its commit and its object cache, on a keyed database file
// with the two connections the core keeps on it.
#include "core/model/db_context.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "db_fixture.h"
#include "support/fake_changes_manager.h"
#include "support/fake_snapshot_server_client.h"

namespace {

using libkestrun::ChangeSet;
using libkestrun::ConsumerChangeType;
using libkestrun::ItemState;
using libkestrun::TableChangeSet;

// Counts the statements a connection runs.
class StatementCounter {
 public:
  explicit StatementCounter(CppSQLite3DB& db) : db_(db.handle()) {
    sqlite3_trace_v2(db_, SQLITE_TRACE_STMT, &StatementCounter::traced, this);
  }
  ~StatementCounter() { sqlite3_trace_v2(db_, 0, nullptr, nullptr); }
  int count() const { return count_; }

 private:
  static int traced(unsigned, void* self, void*, void*) {
    ++static_cast<StatementCounter*>(self)->count_;
    return 0;
  }
  sqlite3* db_;
  int count_ = 0;
};

using DbContextCommitTest = kestrun_test::DbContextTest;

TEST_F(DbContextCommitTest, EmptyCommitRunsNoSqlAndCallsNoHook) {
  StatementCounter counter(data_.database());
  ChangeSet changes = commit();
  EXPECT_EQ(counter.count(), 0);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(DbContextCommitTest, CommitWritesRecordsAndKeepsTheObjectCached) {
  auto created = newItem("I1", [](KSItem& item) { item.setSubject("hello"); });
  ChangeSet changes = commit();
  const ChangeSet expected{{"KSITEM", TableChangeSet{{ConsumerChangeType::Insert, {"I1"}},
                                                     {ConsumerChangeType::Update, {}},
                                                     {ConsumerChangeType::Delete, {}}}}};
  EXPECT_EQ(changes, expected);
  ASSERT_EQ(recorder_->calls.size(), 1u);
  EXPECT_EQ(recorder_->calls[0].changes, expected);
  EXPECT_FALSE(recorder_->calls[0].force);
  EXPECT_EQ(data_.fetchItem("I1"), created);
  // The other connection reads the committed row.
  auto read = reader_.fetchItem("I1");
  ASSERT_NE(read, nullptr);
  EXPECT_NE(read, created);
  EXPECT_EQ(read->subject(), "hello");
  EXPECT_FALSE(read->isInserted());

  // A change made on the reading side comes back the other way.
  read->setSubject("changed");
  ChangeSet readerChanges;
  reader_.commit(readerChanges);
  data_.reset();
  EXPECT_EQ(data_.fetchItem("I1")->subject(), "changed");
}

TEST_F(DbContextCommitTest, FailedSaveRollsBackResetsAndTheNextCommitWorks) {
  newItem("I1");
  commit();
  recorder_->calls.clear();
  newItem("I2");
  newItem("I1");  // a second insert of a stored key fails on the primary key
  ChangeSet changes;
  EXPECT_THROW(data_.commit(changes), CppSQLite3Exception);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(recorder_->calls.empty());
  EXPECT_TRUE(data_.database().isAutoCommit());
  // Nothing of the failed commit is in the file or in the cache.
  EXPECT_FALSE(reader_.itemExists("I2"));
  EXPECT_FALSE(data_.itemExists("I2"));
  EXPECT_EQ(data_.countItems(), 1);

  newItem("I3");
  commit();
  EXPECT_TRUE(reader_.itemExists("I3"));
  EXPECT_EQ(recorder_->calls.size(), 1u);
}

TEST_F(DbContextCommitTest, DeletedObjectLeavesTheCacheAtCommit) {
  auto item = newItem("I1");
  commit();
  data_.deleteObject(item);
  EXPECT_EQ(data_.fetchItem("I1"), item);  // still cached until the commit
  ChangeSet changes = commit();
  EXPECT_EQ(changes["KSITEM"][ConsumerChangeType::Delete], (std::unordered_set<std::string>{"I1"}));
  EXPECT_EQ(data_.fetchItem("I1"), nullptr);
  EXPECT_FALSE(reader_.itemExists("I1"));
}

TEST_F(DbContextCommitTest, RecreateEmptiesTheTablesAndForgetsTheSyncState) {
  auto snapshots = std::make_shared<kestrun_test::FakeSnapshotServerClient>();
  auto tokens = std::make_shared<kestrun_test::FakeChangesManager>();
  libkestrun::internal::snapshot_server_client_set_instance(snapshots);
  libkestrun::changes_manager_set_instance(tokens);
  auto item = newItem("I1");
  commit();
  data_.recreate();
  libkestrun::internal::snapshot_server_client_set_instance(nullptr);
  libkestrun::changes_manager_set_instance(nullptr);

  EXPECT_EQ(snapshots->calls().size(), 1u);
  EXPECT_EQ(tokens->calls(), (std::vector<kestrun_test::Call>{{"clear", jsonette::Json::array{}}}));
  EXPECT_FALSE(reader_.itemExists("I1"));
  // The prepared statements survive the rebuild; the cache is the caller's to reset.
  EXPECT_EQ(data_.countItems(), 0);
  EXPECT_EQ(data_.fetchItem("I1"), item);
  data_.reset();
  EXPECT_EQ(data_.fetchItem("I1"), nullptr);
}

TEST_F(DbContextCommitTest, ClosedOrUnopenedContextFailsAndReopens) {
  DBContext fresh;
  EXPECT_THROW(fresh.countItems(), CppSQLite3Exception);
  newItem("I1");
  commit();
  reader_.close();
  EXPECT_THROW(reader_.countItems(), CppSQLite3Exception);
  reader_.open(path(), key());
  EXPECT_EQ(reader_.countItems(), 1);
}

TEST_F(DbContextCommitTest, WithoutTheKeyTheFileDoesNotRead) {
  DBContext unkeyed;
  EXPECT_THROW(unkeyed.open(path(), std::nullopt), CppSQLite3Exception);
}

using DbContextCacheTest = kestrun_test::DbContextTest;

TEST_F(DbContextCacheTest, OneIdIsOneObjectUntilReset) {
  newItem("I1", [](KSItem& item) { item.setSubject("first"); });
  commit();
  data_.reset();
  auto fetched = data_.fetchItem("I1");
  ASSERT_NE(fetched, nullptr);
  // The row changes through the other connection; the cached object does not.
  auto other = reader_.fetchItem("I1");
  other->setSubject("second");
  ChangeSet changes;
  reader_.commit(changes);
  EXPECT_EQ(data_.fetchItem("I1"), fetched);
  EXPECT_EQ(fetched->subject(), "first");

  // A multi-row fetch hands out the cached object with its in-memory values.
  fetched->setSubject("in memory");
  auto items = data_.itemsForAccount("A");
  ASSERT_EQ(items->size(), 1u);
  EXPECT_EQ(items->at(0), fetched);
  EXPECT_EQ(items->at(0)->subject(), "in memory");

  data_.reset();
  EXPECT_EQ(data_.fetchItem("I1")->subject(), "second");
}

TEST_F(DbContextCacheTest, MissCachesNothingAndEmptyIdsFetchNothing) {
  EXPECT_EQ(data_.fetchItem("late"), nullptr);
  EXPECT_EQ(data_.fetchItem(""), nullptr);
  EXPECT_EQ(data_.fetchEmail(""), nullptr);
  auto late = std::static_pointer_cast<KSItem>(reader_.createObject("KSITEM", "late"));
  late->setItemID("late");
  ChangeSet changes;
  reader_.commit(changes);
  auto found = data_.fetchItem("late");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->itemID(), "late");
  EXPECT_FALSE(found->isInserted());
  EXPECT_TRUE(data_.itemsInState(ItemState::Spam)->empty());
}

TEST_F(DbContextCacheTest, ExistsAnswersFromTheCacheFirst) {
  newItem("I1");
  EXPECT_TRUE(data_.itemExists("I1"));
  EXPECT_FALSE(reader_.itemExists("I1"));
  data_.reset();
  EXPECT_FALSE(data_.itemExists("I1"));
}

TEST_F(DbContextCacheTest, RemovalByAccountLeavesCachedObjectsUntilReset) {
  auto item = newItem("I1");
  newEmail("E1", "I1");
  commit();
  data_.removeItemsForAccount("A");
  data_.removeEmailsForAccount("A");
  EXPECT_EQ(reader_.countItems(), 0);
  EXPECT_FALSE(reader_.emailExists("E1"));
  EXPECT_EQ(data_.fetchItem("I1"), item);
  EXPECT_NE(data_.fetchEmail("E1"), nullptr);
  data_.reset();
  EXPECT_EQ(data_.fetchItem("I1"), nullptr);
  EXPECT_EQ(data_.fetchEmail("E1"), nullptr);
}

}  // namespace
