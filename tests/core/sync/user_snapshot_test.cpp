// The user snapshot: its params and how a reply becomes draft updates.
#include "core/sync/user_snapshot.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using jsonette::Json;
using libkestrun::UserSnapshot;
using libkestrun::UserSnapshotResult;

TEST(UserSnapshotTest, ParamsCarryTheSyncStateAndTheExcludedIds) {
  UserSnapshot first(0, {});
  EXPECT_EQ(first.params().dump(), R"({"sync_state":{"user_item":{"exclude_ids":{},"since":0}}})");
  UserSnapshot later(1700000000123, {{"D1", 5}});
  EXPECT_EQ(later.params(),
            Json(Json::object{
                {"sync_state",
                 Json::object{{"user_item", Json::object{{"since", 1700000000123LL},
                                                         {"exclude_ids", Json::object{{"D1", 5}}}}}}}}));
  EXPECT_EQ(first.method(), "USER_SNAPSHOT");
  EXPECT_FALSE(first.should_persist());
}

TEST(UserSnapshotTest, ReplyBecomesDraftUpdatesInDocumentOrder) {
  const Json saved = Json::object{
      {"type", 1},
      {"_id", "D2"},
      {"removed", false},
      {"user_id", "U1"},
      {"version", Json::object{{"A", 3}}},
      {"data", Json::object{
                   {"subject", "plans"}, {"content", "<p>hi</p>"}, {"draft_type", 2}, {"item_id", nullptr}}}};
  struct Case {
    const char* name;
    Json result;
    std::string user_id;
    uint64_t sync_state;
    std::vector<std::string> updates;  // draft id, "-" marking a removal
  } cases[] = {
      {"mixed",
       Json::object{
           {"user_id", "U1"},
           {"sync_state", Json::object{{"user_item", 1700000000456LL}}},
           {"docs", Json::object{{"user_item",
                                  Json::array{Json::object{{"type", 2}, {"_id", "X"}},
                                              Json::object{{"type", 1}, {"_id", "D1"}, {"removed", true}},
                                              saved, Json::object{{"type", "1"}, {"_id", "Y"}}}}}}},
       "U1",
       1700000000456ULL,
       {"-D1", "D2"}},
      {"no docs",
       Json::object{{"user_id", "U1"}, {"sync_state", Json::object{{"user_item", 9}}}},
       "U1",
       9,
       {}},
      {"not an object", Json(), "", 0, {}},
  };
  for (const Case& c : cases) {
    UserSnapshot snapshot(0, {});
    std::optional<UserSnapshotResult> got;
    snapshot.result_callback = [&](UserSnapshotResult&& result) { got = std::move(result); };
    snapshot.on_result(c.result);
    ASSERT_TRUE(got) << c.name;
    EXPECT_EQ(got->user_id, c.user_id) << c.name;
    EXPECT_EQ(got->sync_state, c.sync_state) << c.name;
    std::vector<std::string> updates;
    for (const libkestrun::DraftUpdate& update : got->updates) {
      updates.push_back((update.removed ? "-" : "") + update.draft_id);
      EXPECT_EQ(update.removed, !update.draft.has_value()) << c.name;
    }
    EXPECT_EQ(updates, c.updates) << c.name;
    if (updates.size() == 2) {
      EXPECT_EQ(got->updates[1].draft->get_subject(), "plans");
      EXPECT_EQ(got->updates[1].draft->get_version(), libkestrun::internal::VectorClock({{"A", 3}}));
    }
  }

  // Errors and a missing callback end quietly.
  UserSnapshot silent(0, {});
  silent.on_result(cases[0].result);
  silent.on_error(Json::object{{"code", "U1"}});
}

}  // namespace
