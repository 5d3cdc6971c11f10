#include "core/data/data_writer.h"

#include <gtest/gtest.h>

#include "writer_fixture.h"

namespace {

using kestrun_test::WriterTest;
using libkestrun::ItemState;

TEST_F(WriterTest, AnOperationRunsAsOneDataTask) {
  storeItem("I");
  Ids ids = perform([](Completion done) { KestrunDataWriter::completeItem("I", done); });
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(item("I").get_STATE(), ItemState::Archive);
  ASSERT_EQ(objects_->calls().size(), 2u);  // the defer-read update, then the state update
  EXPECT_EQ(objects_->calls()[1].method, "updateItem");
}

}  // namespace
