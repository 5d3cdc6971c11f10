#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::WriterTest;

class EmailFlagsTest : public WriterTest {
 protected:
  EmailFlagsTest() {
    storeItem("I");
    storeEmail("E", "I", [](KSEmail& email) { email.set_READ(false); });
  }
};

TEST_F(EmailFlagsTest, AnEmailWithQueuedUploadsChangesLocallyOnly) {
  resources_->no_queued_uploads = false;
  perform([](Completion done) { KestrunDataWriter::readEmail("E", done); });
  EXPECT_TRUE(email("E").get_READ());
  EXPECT_TRUE(item("I").get_THREADREAD());
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_EQ(resources_->calls(), (std::vector<Call>{{"hasNoQueuedUploadsForEmail", Json::array{Json("E")}}}));
}

TEST_F(EmailFlagsTest, StarThenUnstarSendTwoUpdates) {
  perform([](Completion done) { KestrunDataWriter::starEmail("E", done); });
  EXPECT_TRUE(item("I").get_THREADSTARRED());
  EXPECT_EQ(item("I").get_THREADSTARREDCOUNT(), 1);
  perform([](Completion done) { KestrunDataWriter::unstarEmail("E", done); });
  EXPECT_FALSE(item("I").get_THREADSTARRED());
  EXPECT_EQ(item("I").get_THREADSTARREDCOUNT(), 0);
  perform([](Completion done) { KestrunDataWriter::unstarEmail("E", done); });  // already unstarred

  const auto calls = objects_->calls();
  ASSERT_EQ(calls.size(), 2u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].method, "updateEmail");
    EXPECT_EQ(calls[i].args[0]["_id"], Json("E"));
    EXPECT_EQ(calls[i].args[0]["p_id"], Json("I"));
    EXPECT_EQ(calls[i].args[0]["starred"], Json(i == 0 ? 1 : 0));
    EXPECT_TRUE(calls[i].args[0]["read"].is_null());
    EXPECT_EQ(calls[i].args[1], Json(true));
  }
}

TEST_F(EmailFlagsTest, ReadAndUnreadChangeOnlyADifferentFlag) {
  perform([](Completion done) { KestrunDataWriter::unreadEmail("E", done); });
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_FALSE(item("I").get_THREADREAD());
  EXPECT_EQ(item("I").get_THREADUNREADCOUNT(), 1);

  perform([](Completion done) { KestrunDataWriter::readEmail("E", done); });
  perform([](Completion done) { KestrunDataWriter::unreadEmail("E", done); });
  const auto calls = objects_->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args[0]["read"], Json(1));
  EXPECT_EQ(calls[1].args[0]["read"], Json(0));
  EXPECT_FALSE(item("I").get_THREADREAD());

  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::readEmail("ghost", done); });
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(EmailFlagsTest, FlagPassesTheReasonAndChangesNothing) {
  perform([](Completion done) { KestrunDataWriter::flagEmail("E", "", done); });
  perform([](Completion done) { KestrunDataWriter::flagEmail("E", "phishing", done); });
  perform([](Completion done) { KestrunDataWriter::flagEmail("ghost", "spam", done); });
  EXPECT_EQ(objects_->calls(),
            (std::vector<Call>{{"flagEmail", Json::array{Json("E"), Json("A"), Json("")}},
                               {"flagEmail", Json::array{Json("E"), Json("A"), Json("phishing")}}}));
  EXPECT_FALSE(email("E").get_READ());
}

TEST_F(EmailFlagsTest, FullBodyTextComesFirstAndIsHtml) {
  perform([](Completion done) { KestrunDataWriter::saveFullBodyText("E", "plain words", done); });  // swapped
  EXPECT_FALSE(email("E").get_HASFULLBODY());

  perform([](Completion done) { KestrunDataWriter::saveFullBodyText("plain words", "E", done); });
  const auto row = email("E");
  EXPECT_EQ(row.get_FULLBODY(), "plain words");
  EXPECT_TRUE(row.get_HASFULLBODY());
  EXPECT_TRUE(row.get_FULLBODYISHTML());
  EXPECT_TRUE(objects_->calls().empty());
}

}  // namespace
