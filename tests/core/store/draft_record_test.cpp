#include "core/store/draft.h"

#include <gtest/gtest.h>

#include <string>

namespace libkestrun::internal {
namespace {

jsonette::Json parse(const std::string& text) {
  std::string error;
  jsonette::Json value = jsonette::Json::parse(text, error);
  EXPECT_TRUE(error.empty()) << text;
  return value;
}

std::optional<Draft> draft_from(const std::string& text) { return Draft::from_json(parse(text)); }

TEST(EmailName, JsonForms) {
  EXPECT_EQ(EmailName("Ann \"A\"", "a@x").to_json().dump(), R"({"address":"a@x","name":"Ann \"A\""})");
  EXPECT_EQ(EmailName::from_json(parse(R"({"name":"N","address":7})")), EmailName("N", ""));
  EXPECT_EQ(EmailName::from_json(parse(R"(["N"])")), EmailName());
  EXPECT_EQ(EmailName("", "a@x").display_name(), "a@x");
  EXPECT_EQ(EmailName("Ann", "a@x").display_name(), "Ann");
  EXPECT_EQ(EmailName().display_name(), "");

  // Elements that are not objects keep their place as empty names.
  EXPECT_EQ(EmailName::list_from_json(parse(R"({"to":["x",{"name":"B"}]})"), "to"),
            (std::vector<EmailName>{EmailName(), EmailName("B", "")}));
  EXPECT_TRUE(EmailName::list_from_json(parse(R"({"to":{"name":"B"}})"), "to").empty());

  struct Case {
    const char* text;
    std::vector<EmailName> expected;
  };
  const Case columns[] = {
      {"", {}},
      {"{}", {}},
      {"not json", {}},
      {R"([{"name":"A","address":"a@x"},3])", {EmailName("A", "a@x"), EmailName()}},
  };
  for (const Case& c : columns) EXPECT_EQ(EmailName::list_from_text(c.text), c.expected) << c.text;
}

TEST(DraftFromJson, WithoutAnIdThereIsNoDraft) {
  for (const char* text :
       {R"({"user_id":"u","data":{"subject":"s"}})", R"({"_id":""})", R"({"_id":5})", "[]"}) {
    EXPECT_FALSE(draft_from(text).has_value()) << text;
  }
}

TEST(DraftFromJson, FullDocument) {
  std::optional<Draft> draft = draft_from(R"({
    "_id": "D1", "user_id": "U", "version": {"dev": 2}, "type": "draft",
    "data": {"item_id": "I", "created_at": 12.7, "modified_at": -3.5, "subject": "Hi",
             "content": "<p>x</p>", "plain_content": "ignored", "base_email_id": "E",
             "eventual_email_id": "EV", "is_full_body": true, "draft_type": 4,
             "from": {"name": "Me", "address": "me@x"},
             "to": [{"name": "A", "address": "a@x"}], "cc": [], "bcc": [{"address": "b@x"}]}})");
  ASSERT_TRUE(draft.has_value());
  EXPECT_EQ(draft->id(), "D1");
  EXPECT_EQ(draft->get_user_id(), "U");
  EXPECT_EQ(draft->get_version(), VectorClock({{"dev", 2}}));
  EXPECT_EQ(draft->get_item_id(), std::optional<std::string>("I"));
  EXPECT_EQ(draft->get_created_at(), 12);
  EXPECT_EQ(draft->get_modified_at(), -3);
  EXPECT_EQ(draft->get_subject(), "Hi");
  EXPECT_EQ(draft->get_content(), "<p>x</p>");
  EXPECT_EQ(draft->get_plain_content(), "x");  // derived from the HTML, not taken from the document
  EXPECT_EQ(draft->get_base_email_id(), std::optional<std::string>("E"));
  EXPECT_EQ(draft->get_eventual_email_id(), "EV");
  EXPECT_TRUE(draft->get_is_full_body());
  EXPECT_EQ(draft->get_type(), EmailSendType::ReplyAll);
  EXPECT_EQ(draft->get_from(), EmailName("Me", "me@x"));
  EXPECT_EQ(draft->get_to(), std::vector<EmailName>{EmailName("A", "a@x")});
  EXPECT_TRUE(draft->get_cc().empty());
  EXPECT_EQ(draft->get_bcc(), std::vector<EmailName>{EmailName("", "b@x")});
  // Every column that differs from the default comes back flagged; none has a callback.
  EXPECT_FALSE(draft->is_changed_cc());
  EXPECT_TRUE(draft->is_changed_to());
  EXPECT_TRUE(draft->is_changed_plain_content());
  EXPECT_FALSE(draft->row.change_callback);
}

TEST(DraftFromJson, WithoutDataOnlyIdOwnerAndVersionAreSet) {
  std::optional<Draft> draft = draft_from(R"({"_id":"D","user_id":"U","version":{"a":1}})");
  ASSERT_TRUE(draft.has_value());
  Draft expected;
  expected.set_draft_id("D");
  expected.set_user_id("U");
  expected.set_version(VectorClock({{"a", 1}}));
  EXPECT_TRUE(draft->row.values == expected.row.values);
  EXPECT_EQ(draft->row.changed_flags, expected.row.changed_flags);
}

TEST(DraftFromJson, MemberTypes) {
  struct Case {
    const char* data;
    std::optional<std::string> item_id;
    long long created_at;
    int type;
    bool full_body;
  };
  const Case cases[] = {
      {R"({})", std::nullopt, 0, 0, false},
      {R"({"item_id":null,"created_at":"12","draft_type":"1","is_full_body":1})", std::nullopt, 0, 0, false},
      {R"({"item_id":"","created_at":-3.5,"draft_type":2.9})", std::string(), -3, 2, false},
      {R"({"item_id":42,"created_at":1e300,"draft_type":1e12})", std::string(), 9223372036854775807LL,
       2147483647, false},
  };
  for (const Case& c : cases) {
    std::optional<Draft> draft = draft_from(std::string(R"({"_id":"D","data":)") + c.data + "}");
    ASSERT_TRUE(draft.has_value()) << c.data;
    EXPECT_EQ(draft->get_item_id(), c.item_id) << c.data;
    EXPECT_EQ(draft->get_created_at(), c.created_at) << c.data;
    EXPECT_EQ(static_cast<int>(draft->get_type()), c.type) << c.data;
    EXPECT_EQ(draft->get_is_full_body(), c.full_body) << c.data;
    EXPECT_EQ(draft->get_plain_content(), "") << c.data;  // no content, no conversion
  }
}

}  // namespace
}  // namespace libkestrun::internal
