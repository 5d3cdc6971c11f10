// The draft commands: their params, their persistence and the version rule by which a newer
// command of a draft replaces a stored one.
#include "core/sync/user_item_commands.h"

#include <gtest/gtest.h>

#include "core/sync/draft_update.h"

namespace {

using jsonette::Json;
using libkestrun::DraftUpdate;
using libkestrun::UserItemRemove;
using libkestrun::UserItemSave;
using libkestrun::internal::Draft;
using libkestrun::internal::EmailName;
using libkestrun::internal::VectorClock;

Draft forward_draft() {
  Draft draft;
  draft.set_user_id("U1");
  draft.set_draft_id("D1");
  draft.set_created_at(1000);
  draft.set_modified_at(2000);
  draft.set_version(VectorClock({{"A", 2}}));
  draft.set_type(libkestrun::EmailSendType::Forward);
  draft.set_eventual_email_id("E9");
  draft.set_subject("Fwd: plans");
  draft.set_from(EmailName("Me", "me@example.com"));
  draft.set_to({EmailName("", "you@example.com")});
  draft.set_content("<p>see below</p>");
  draft.set_plain_content("see below");
  draft.set_is_full_body(true);
  return draft;
}

TEST(UserItemCommandsTest, SaveCarriesTheDraftsFieldsAsTypeOne) {
  UserItemSave save(forward_draft());

  Json version = Json::object{{"A", 2}};
  Json data = Json::object{
      {"item_id", nullptr},
      {"created_at", 1000},
      {"modified_at", 2000},
      {"subject", "Fwd: plans"},
      {"draft_type", 2},
      {"to", Json::array{Json::object{{"name", ""}, {"address", "you@example.com"}}}},
      {"from", Json::object{{"name", "Me"}, {"address", "me@example.com"}}},
      {"cc", Json::array{}},
      {"bcc", Json::array{}},
      {"content", "<p>see below</p>"},
      {"base_email_id", nullptr},
      {"eventual_email_id", "E9"},
      {"is_full_body", true},
  };
  EXPECT_EQ(save.method(), "USER_ITEM_SAVE");
  EXPECT_EQ(save.params(),
            Json(Json::object{
                {"_id", "D1"}, {"user_id", "U1"}, {"version", version}, {"type", 1}, {"data", data}}));
  EXPECT_TRUE(save.should_persist());
  EXPECT_EQ(save.object_id(), "D1");

  Draft filed = forward_draft();
  filed.set_item_id("I1");
  filed.set_base_email_id("E1");
  Json filed_data = UserItemSave(filed).params()["data"];
  EXPECT_EQ(filed_data["item_id"], Json("I1"));
  EXPECT_EQ(filed_data["base_email_id"], Json("E1"));

  UserItemRemove remove(forward_draft());
  EXPECT_EQ(remove.method(), "USER_ITEM_REMOVE");
  EXPECT_EQ(remove.params(), Json(Json::object{{"_id", "D1"}, {"user_id", "U1"}, {"version", version}}));
  EXPECT_TRUE(remove.should_persist());
  EXPECT_EQ(remove.object_id(), "D1");
}

Json save_params(const Json& version) {
  return Json::object{
      {"_id", "D1"}, {"user_id", "U1"}, {"version", version}, {"type", 1}, {"data", Json::object{}}};
}

Json remove_params(const Json& version) {
  return Json::object{{"_id", "D1"}, {"user_id", "U1"}, {"version", version}};
}

TEST(UserItemCommandsTest, ANewerVersionSupersedesOnlyAStrictlyOlderStoredOne) {
  Json a1 = Json::object{{"A", 1}};
  Json a2 = Json::object{{"A", 2}};
  Json a3 = Json::object{{"A", 3}};
  Json b1 = Json::object{{"B", 1}};
  Json a1b1 = Json::object{{"A", 1}, {"B", 1}};
  Json no_data = Json::object{{"_id", "D1"}, {"user_id", "U1"}, {"version", a1}, {"type", 1}};
  Json no_version = Json::object{{"_id", "D1"}, {"user_id", "U1"}};
  UserItemSave save_a2("D1", "U1", VectorClock({{"A", 2}}), 1, Json::object{});
  UserItemRemove remove_a3b1("D1", "U1", VectorClock({{"A", 3}, {"B", 1}}));

  struct Case {
    const libkestrun::UserItemCommand& command;
    std::string stored_method;
    Json stored_params;
    bool supersedes;
  } cases[] = {
      {save_a2, "USER_ITEM_SAVE", save_params(a1), true},
      {save_a2, "USER_ITEM_REMOVE", remove_params(a1), true},
      {save_a2, "USER_ITEM_SAVE", save_params(Json::object{}), true},
      {save_a2, "USER_ITEM_SAVE", save_params(a2), false},
      {save_a2, "USER_ITEM_SAVE", save_params(b1), false},
      {save_a2, "USER_ITEM_REMOVE", remove_params(a1b1), false},
      {remove_a3b1, "USER_ITEM_SAVE", save_params(a3), true},
      {remove_a3b1, "USER_ITEM_REMOVE", remove_params(a3), true},
      // Messages of another method or shape are never superseded.
      {save_a2, "USER_ITEM_SAVE", no_data, false},
      {save_a2, "USER_ITEM_SAVE", remove_params(a1), false},
      {save_a2, "USER_ITEM_REMOVE", no_version, false},
      {save_a2, "ITEM_UPDATE", save_params(a1), false},
      {save_a2, "USER_ITEM_SAVE", Json::array{}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.command.supersedes(c.stored_method, c.stored_params), c.supersedes)
        << c.command.method() << " over " << c.stored_method << c.stored_params.dump();
  }
}

TEST(UserItemCommandsTest, DraftUpdateIsAChangedDraftOrARemoval) {
  DraftUpdate changed(forward_draft());
  EXPECT_EQ(changed.draft_id, "D1");
  EXPECT_FALSE(changed.removed);
  ASSERT_TRUE(changed.draft);
  EXPECT_EQ(changed.draft->get_subject(), "Fwd: plans");

  DraftUpdate removed = DraftUpdate::removal("D2");
  EXPECT_EQ(removed.draft_id, "D2");
  EXPECT_TRUE(removed.removed);
  EXPECT_FALSE(removed.draft);
}

}  // namespace
