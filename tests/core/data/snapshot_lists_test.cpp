// The account lists of a snapshot, applied through the data center to a real database.
#include <gtest/gtest.h>

#include <string>

#include "core/model/ks_account_list.h"
#include "core/model/ks_list.h"
#include "server_data_fixture.h"

namespace {

using kestrun_test::Completion;
using kestrun_test::json;

class SnapshotListsTest : public kestrun_test::ServerDataTest {
 protected:
  void applySnapshot(const std::string& snapshot) {
    complete([&](Completion done) {
      KestrunDataCenter::processDocumentSnapshot(json(snapshot), json("null"), "A", nullptr, std::move(done));
    });
  }
};

// Whatever the key order, the lists come first: an item filed in a list of the same snapshot
// finds its account list and is filed, although nothing of the snapshot is committed yet.
TEST_F(SnapshotListsTest, ListsComeBeforeTheItemsFiledInThem) {
  applySnapshot(
      "{'item': [{'_id': 'I1', 'acct_id': 'A', 'state': 5, 'list_id': 'AL1', 'saved_at': 1}], "
      "'list': [{'_id': 'AL1', 'acct_id': 'A', 'name': 'Travel', 'saved_at': 1}]}");
  inDatabase([](DBContext& context) {
    context.reset();
    auto travel = KSList::fetchWithName("Travel", &context);
    ASSERT_TRUE(travel);
    EXPECT_EQ(travel->listCount(), 1);
    ASSERT_EQ(travel->accountLists()->size(), 1u);
    EXPECT_EQ(travel->accountLists()->front()->listID(), "AL1");
    auto item = context.fetchItem("I1");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->list(), travel);
    EXPECT_EQ(item->row().get_MACCOUNTLISTID(), "AL1");
  });
}

}  // namespace
