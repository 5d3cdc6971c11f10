#include "core/model/ks_account_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/memory_context.h"
#include "list_fixture.h"

namespace {

using kestrun_test::dump;
using libkestrun::ItemState;

class KSAccountListTest : public kestrun_test::ListTest {
 protected:
  // A stored list item of account "A" that names the account list but is in no user list yet.
  void storeNamingItem(const std::string& id, const std::string& accountListID,
                       const std::string& listID = "") {
    storeItem(id, 1, [&](libkestrun::internal::Item& row) {
      row.set_STATE(ItemState::List);
      row.set_LISTID(accountListID);
      row.set_MLISTID(listID);
    });
  }

  std::string parentOf(const std::string& accountListID) {
    auto read = reader_.fetchAccountList(accountListID);
    return read ? read->row().get_MPARENTLISTID() : "(none)";
  }
  std::string listOf(const std::string& itemID) {
    auto read = reader_.fetchItem(itemID);
    return read->row().get_MLISTID() + "/" + read->row().get_MACCOUNTLISTID();
  }
  int countOf(const std::string& listID) {
    auto read = reader_.fetchList(listID);
    return read ? read->listCount() : -1;
  }
  // The reader context reads the committed rows again.
  void commitAndRead() {
    commit();
    reader_.reset();
  }
};

TEST_F(KSAccountListTest, FirstDocumentCreatesTheListAndFilesTheNamingItems) {
  storeNamingItem("I1", "AL1");
  storeNamingItem("I2", "AL1", "list_Elsewhere");
  storeNamingItem("I3", "AL9");
  ordering_->setOrderKey("Receipts", 4);

  auto travel = applyList(listDocument("AL1", "Travel", "A", 5));
  ASSERT_NE(travel, nullptr);
  EXPECT_TRUE(server_->calls().empty());
  commitAndRead();

  EXPECT_EQ(parentOf("AL1"), "list_Travel");
  EXPECT_TRUE(reader_.fetchAccountList("AL1")->loadedOnce());
  EXPECT_EQ(reader_.fetchList("list_Travel")->name(), "Travel");
  EXPECT_EQ(reader_.fetchList("list_Travel")->orderKey(), 5);
  EXPECT_EQ(countOf("list_Travel"), 1);
  EXPECT_EQ(listOf("I1"), "list_Travel/AL1");
  EXPECT_EQ(listOf("I2"), "list_Elsewhere/");
  EXPECT_EQ(listOf("I3"), "/");

  // A later document of the same name changes no parent and files nothing.
  storeNamingItem("I4", "AL1");
  applyList(listDocument("AL1", "Travel", "A", 6));
  commitAndRead();
  EXPECT_EQ(parentOf("AL1"), "list_Travel");
  EXPECT_EQ(countOf("list_Travel"), 1);
  EXPECT_EQ(listOf("I4"), "/");
}

TEST_F(KSAccountListTest, RenamedAccountListsMoveWithTheirItems) {
  storeNamingItem("I1", "AL1");
  storeNamingItem("I2", "AL2");
  applyList(listDocument("AL1", "Travel", "A", 5));
  applyList(listDocument("AL2", "Travel", "B", 5));
  commitAndRead();
  ASSERT_EQ(countOf("list_Travel"), 2);

  // Travel keeps the account list of B.
  applyList(listDocument("AL1", "Trips", "A", 6));
  commitAndRead();
  EXPECT_EQ(parentOf("AL1"), "list_Trips");
  EXPECT_EQ(countOf("list_Trips"), 1);
  EXPECT_EQ(countOf("list_Travel"), 1);
  EXPECT_EQ(listOf("I1"), "list_Trips/AL1");
  EXPECT_EQ(listOf("I2"), "list_Travel/AL2");

  // The last account list leaves: Travel goes.
  applyList(listDocument("AL2", "Trips", "B", 6));
  commitAndRead();
  EXPECT_EQ(reader_.fetchList("list_Travel"), nullptr);
  EXPECT_EQ(countOf("list_Trips"), 2);
  EXPECT_EQ(listOf("I2"), "list_Trips/AL2");
  EXPECT_EQ(reader_.fetchList("list_Trips")->accountLists()->size(), 2u);
}

TEST_F(KSAccountListTest, DeletedDocumentsDetachAndAreNotApplied) {
  storeNamingItem("I1", "AL1");
  storeNamingItem("I2", "AL2");
  applyList(listDocument("AL1", "Travel", "A", 5));
  applyList(listDocument("AL2", "Travel", "B", 5));
  commitAndRead();

  auto first = KSAccountList::fetchWithID("AL1", &data_);
  EXPECT_EQ(applyList("{'_id': 'AL1', 'acct_id': 'A', 'name': 'Other', 'saved_at': 9, '_deleted': true}"),
            nullptr);
  EXPECT_EQ(first->name(), "Travel");
  EXPECT_EQ(first->savedAt(), 5);
  EXPECT_EQ(list("Other"), nullptr);
  commitAndRead();
  EXPECT_EQ(reader_.fetchAccountList("AL1"), nullptr);
  EXPECT_NE(reader_.fetchList("list_Travel"), nullptr);

  // Not true is not a deletion.
  applyList("{'_id': 'AL2', '_deleted': 1, 'saved_at': 10}");
  commitAndRead();
  EXPECT_NE(reader_.fetchAccountList("AL2"), nullptr);

  applyList("{'_id': 'AL2', '_deleted': true}");
  commitAndRead();
  EXPECT_EQ(reader_.fetchAccountList("AL2"), nullptr);
  EXPECT_EQ(reader_.fetchList("list_Travel"), nullptr);
  EXPECT_EQ(listOf("I2"), "/");

  // A deletion of an account list never seen leaves nothing behind.
  EXPECT_EQ(applyList("{'_id': 'AL7', 'acct_id': 'A', 'name': 'Gone', '_deleted': true}"), nullptr);
  commitAndRead();
  EXPECT_EQ(reader_.fetchAccountList("AL7"), nullptr);
  EXPECT_EQ(reader_.fetchList("list_Gone"), nullptr);
}

TEST_F(KSAccountListTest, DocumentsWrittenForTheServer) {
  auto travel = applyList(
      "{'_id': 'AL1', 'acct_id': 'A', 'name': 'Travel', 'created_at': 12, 'sync_data': {'v': 1}, "
      "'loadedOnce': 1, 'saved_at': 'x'}");
  ASSERT_NE(travel, nullptr);
  EXPECT_EQ(travel->savedAt(), 0);
  EXPECT_EQ(dump(travel->changesToJson({"name", "listID"})),
            R"({"_id":"AL1","acct_id":"A","sync_data":{"v":1},"name":"Travel"})");
  EXPECT_EQ(dump(travel->changesToJson({"createdAt"})),
            R"({"_id":"AL1","acct_id":"A","sync_data":{"v":1},"created_at":12})");
  travel->setSyncData("-");
  EXPECT_EQ(dump(travel->toJson()), R"({"_id":"AL1","acct_id":"A","created_at":12,"name":"Travel"})");
}

TEST_F(KSAccountListTest, AStoredAccountListWritesANewSavedTime) {
  applyList(listDocument("AL1", "Travel", "A", 5));
  commitAndRead();
  reload();
  // Only the saved time differs; it must still reach the database.
  applyList(listDocument("AL1", "Travel", "A", 20));
  commit();
  EXPECT_EQ(data_.accountListSavedTimesSince("A", 10, 100), (DBContext::SavedTimes{{"AL1", 20}}));
}

TEST_F(KSAccountListTest, AMemoryContextAppliesTheKeysOnly) {
  MemoryContext memory;
  kestrun_test::JsonDoc document(R"({"_id": "AL1", "acct_id": "A", "name": "Travel", "loadedOnce": false})");
  auto object = std::static_pointer_cast<KSAccountList>(
      KestrunContext::applyServerDocument(document.value, "list", "_id", &memory));
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->name(), "Travel");
  EXPECT_EQ(object->parentList(), nullptr);
  EXPECT_FALSE(object->loadedOnce());
  EXPECT_EQ(memory.fetchAccountList("AL1"), object);
  memory.clearStore();
}

// The item document's list step.
TEST_F(KSAccountListTest, ItemDocumentsFileAndUnfileTheirItem) {
  applyList(listDocument("AL1", "Travel", "A", 5));
  applyList(listDocument("AL2", "Trips", "A", 5));
  commitAndRead();

  apply("item", "{'_id': 'I9', 'acct_id': 'A', 'state': 5, 'list_id': 'AL1', 'saved_at': 1}");
  commitAndRead();
  EXPECT_EQ(listOf("I9"), "list_Travel/AL1");
  EXPECT_EQ(countOf("list_Travel"), 1);

  apply("item", "{'_id': 'I9', 'acct_id': 'A', 'state': 5, 'list_id': 'AL2', 'saved_at': 2}");
  commitAndRead();
  EXPECT_EQ(listOf("I9"), "list_Trips/AL2");
  EXPECT_EQ(countOf("list_Travel"), 0);
  EXPECT_EQ(countOf("list_Trips"), 1);

  // An item of an account list not known yet waits for that list's first document.
  apply("item", "{'_id': 'I8', 'acct_id': 'A', 'state': 5, 'list_id': 'AL3', 'saved_at': 1}");
  commitAndRead();
  EXPECT_EQ(listOf("I8"), "/");
  applyList(listDocument("AL3", "Reading", "A", 5));
  commitAndRead();
  EXPECT_EQ(listOf("I8"), "list_Reading/AL3");

  apply("item", "{'_id': 'I9', 'acct_id': 'A', 'state': 2, 'saved_at': 4}");
  commitAndRead();
  EXPECT_EQ(listOf("I9"), "/");
  EXPECT_EQ(reader_.fetchItem("I9")->listID(), "");
  EXPECT_EQ(countOf("list_Trips"), 0);
}

}  // namespace
