// Drafts through the facade, on a keyed database on disk: new drafts, saving and deleting, the
// read-outs of draft-only items, the live queries of a conversation and of one draft, and the
// user-item saves that reach the local sync server.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "api_store_rows.h"
#include "brelt/semaphore.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/api/api.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/utility.h"
#include "signed_in_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::internal::Draft;

// True for 36 characters of upper-case hexadecimal digits and hyphens in the 8-4-4-4-12 form.
bool is_upper_uuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (hyphen ? c != '-' : !(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')))
      return false;
  }
  return true;
}

// The rows a conversation query handed over, each time, as lists of ids. Any thread.
class ConvoLog : public libkestrun::Api::ConvoItemObserver {
 public:
  void set_results(const std::string&, const std::vector<KSConvoItem>& rows) override {
    std::vector<std::string> ids;
    for (const KSConvoItem& row : rows) ids.push_back(row.convoItemId());
    std::lock_guard<std::mutex> lock(mutex_);
    results_.push_back(ids);
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, KSConvoItem, libkestrun::ConsumerChangeType, int, int) override {}
  void end_changes(const std::string&) override {}

  std::vector<std::vector<std::string>> results() {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::string>> results_;  // guarded by mutex_
};

// A device of user "U1" with one mail account, "A" (me@example.com), as an earlier run left them.
class ApiDraftsTest : public ApiTest {
 protected:
  ApiDraftsTest() {
    auto store = std::make_shared<libkestrun::MemoryStore>();
    libkestrun::JsonKvStore json(store);
    json.set_json(libkestrun::kUserDocKey,
                  Json::object{{"user_id", "U1"}, {"device_id", kDevice}, {"device_secret", "SECRET"}});
    json.set_json(libkestrun::AccountManagerImpl::kAccountsKey,
                  Json(Json::array{Json::object{
                      {"accountID", "A"}, {"emailAddress", kAddress}, {"authenticated", true}}}));
    libkestrun::Overrides overrides;
    overrides.kv_store = store;
    start(config(), overrides);
  }

  static constexpr char kDevice[] = "DEVICE-1";
  static constexpr char kAddress[] = "me@example.com";

  // A new draft written from the account's address, so that a draft without a conversation is
  // shown through a draft-only item of that account.
  Draft new_draft(const std::optional<std::string>& item_id) {
    Draft draft = api_->get_new_draft(item_id, std::nullopt);
    draft.set_from(libkestrun::internal::EmailName("Me", kAddress));
    return draft;
  }

  // Saves and waits until the data writer has stored the draft (and re-run the queries).
  void save(Draft& draft) {
    brelt::Semaphore done;
    api_->save_draft(draft, [&] { done.notify(); });
    done.wait();
  }
  void remove(Draft& draft) {
    brelt::Semaphore done;
    api_->delete_draft(draft, [&](std::vector<std::string>&) { done.notify(); });
    done.wait();
  }
};

TEST_F(ApiDraftsTest, ANewDraftIsBlankWithFreshIdsAndIsNotStored) {
  Draft draft = api_->get_new_draft(std::string("ITEM"), std::string("BASE"));
  EXPECT_EQ(draft.get_created_at(), draft.get_modified_at());
  EXPECT_GT(draft.get_created_at(), 0);
  EXPECT_TRUE(draft.get_version().entries().empty());
  EXPECT_TRUE(is_upper_uuid(draft.get_draft_id())) << draft.get_draft_id();
  EXPECT_TRUE(is_upper_uuid(draft.get_eventual_email_id())) << draft.get_eventual_email_id();
  EXPECT_NE(draft.get_draft_id(), draft.get_eventual_email_id());
  EXPECT_EQ(static_cast<int>(draft.get_type()), 0);
  EXPECT_FALSE(draft.get_is_full_body());
  EXPECT_EQ(draft.get_item_id(), std::optional<std::string>("ITEM"));
  EXPECT_EQ(draft.get_base_email_id(), std::optional<std::string>("BASE"));
  EXPECT_TRUE(draft.get_content().empty());
  EXPECT_EQ(draft.get_user_id(), "U1");

  Draft other = api_->get_new_draft(std::nullopt, std::nullopt);
  EXPECT_NE(other.get_draft_id(), draft.get_draft_id());
  EXPECT_FALSE(other.get_item_id());
  EXPECT_FALSE(api_->get_draft_from_temporary_item_id("draft_item_" + other.get_draft_id()));
}

TEST_F(ApiDraftsTest, SavingEmptiesInlineElementsAndDerivesThePlainText) {
  Draft draft = new_draft(std::nullopt);
  draft.set_content("<p>Hello</p><kestrun-img src=\"cid:1\">inner words</kestrun-img><p>world</p>");
  save(draft);

  EXPECT_EQ(draft.get_content(), "<p>Hello</p><kestrun-img src=\"cid:1\"></kestrun-img><p>world</p>");
  EXPECT_NE(draft.get_plain_content().find("Hello"), std::string::npos) << draft.get_plain_content();
  EXPECT_NE(draft.get_plain_content().find("world"), std::string::npos) << draft.get_plain_content();
  EXPECT_EQ(draft.get_plain_content().find("inner"), std::string::npos) << draft.get_plain_content();
  EXPECT_GE(draft.get_modified_at(), draft.get_created_at());

  std::optional<Draft> stored = api_->get_draft_from_temporary_item_id("draft_item_" + draft.get_draft_id());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->get_content(), draft.get_content());
  EXPECT_EQ(stored->get_plain_content(), draft.get_plain_content());
  EXPECT_EQ(stored->get_version(), draft.get_version());
  EXPECT_EQ(stored->get_modified_at(), draft.get_modified_at());
}

TEST_F(ApiDraftsTest, DraftOnlyItemsLeadToTheirDrafts) {
  EXPECT_EQ(api_->get_most_recent_item_with_only_drafts(), nullptr);
  Draft older = new_draft(std::nullopt);
  save(older);
  Draft newer = new_draft(std::nullopt);
  save(newer);

  const std::string id = older.get_draft_id();
  struct Case {
    std::string item_id;
    bool found;
  } cases[] = {
      {"draft_item_" + id, true},
      {"draft_item_", false},
      {id, false},
      {"DRAFT_ITEM_" + id, false},
      {"draft_item_" + id + "x", false},
      {"x_draft_item_" + id, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item_id);
    std::optional<Draft> draft = api_->get_draft_from_temporary_item_id(c.item_id);
    ASSERT_EQ(draft.has_value(), c.found);
    if (draft) {
      EXPECT_EQ(draft->get_draft_id(), id);
    }
  }

  std::shared_ptr<KestrunObject> item = api_->get_most_recent_item_with_only_drafts();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->id(), "draft_item_" + newer.get_draft_id());

  // Deleting the newer draft leaves its item without drafts; the older one is the latest again.
  remove(newer);
  EXPECT_EQ(newer.get_version().entries(), (libkestrun::internal::VectorClock::Entries{{kDevice, 2}}))
      << "the removal is a change of its own";
  item = api_->get_most_recent_item_with_only_drafts();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->id(), "draft_item_" + id);
}

TEST_F(ApiDraftsTest, AConversationListsItsEmailsAndDraftsInTimeOrderUntilEnded) {
  const int64_t now = libkestrun::Utility::now_ms();
  // One e-mail well before the draft is saved and one long after it.
  store_rows({conversation("I", libkestrun::ItemState::Inbox, now)},
             {message("E1", "I", now - 60000), message("E2", "I", now + 3600000)});
  auto convo = std::make_shared<ConvoLog>();
  api_->perform_query_convo_items_for_item("Q", "I", convo);
  ASSERT_EQ(convo->results().size(), 1u) << "the first rows arrive before the call returns";
  EXPECT_EQ(convo->results().back(), (std::vector<std::string>{"E1", "E2"}));

  Draft draft = new_draft(std::string("I"));
  auto single = std::make_shared<ConvoLog>();
  api_->perform_query_single_draft("D", draft.get_draft_id(), single);
  EXPECT_EQ(single->results(), (std::vector<std::vector<std::string>>{{}})) << "not stored yet";

  save(draft);
  EXPECT_EQ(convo->results().back(), (std::vector<std::string>{"E1", draft.get_draft_id(), "E2"}));
  EXPECT_EQ(single->results().back(), (std::vector<std::string>{draft.get_draft_id()}));

  // Ended queries hear nothing of later changes.
  const size_t convo_heard = convo->results().size();
  const size_t single_heard = single->results().size();
  api_->end_query("Q");
  api_->end_query("D");
  draft.set_subject("changed");
  save(draft);
  remove(draft);
  EXPECT_EQ(convo->results().size(), convo_heard);
  EXPECT_EQ(single->results().size(), single_heard);
}

class ApiDraftSendTest : public SignedInApiTest {};

TEST_F(ApiDraftSendTest, EverySaveAdvancesThisDevicesCounterAndReachesTheServer) {
  ASSERT_NO_FATAL_FAILURE(sign_in({}));
  Draft draft = api_->get_new_draft(std::nullopt, std::nullopt);
  for (int n = 0; n < 2; ++n) {
    brelt::Semaphore done;
    api_->save_draft(draft, [&] { done.notify(); });
    done.wait();
  }
  const std::string device = state_["device_id"].string_value();
  EXPECT_EQ(draft.get_version().entries(), (libkestrun::internal::VectorClock::Entries{{device, 2}}));

  // One message per save; the connection may send a stored one again under its own id.
  std::vector<Json> saves;
  std::set<std::string> ids;
  for (const Json& message : sent("USER_ITEM_SAVE")) {
    if (ids.insert(message["id"].string_value()).second) saves.push_back(message);
  }
  ASSERT_EQ(saves.size(), 2u);
  for (size_t n = 0; n < saves.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(saves[n]["params"]["_id"], Json(draft.get_draft_id()));
    EXPECT_EQ(saves[n]["params"]["version"], Json(Json::object{{device, static_cast<int>(n + 1)}}));
    const std::string id = saves[n]["id"].string_value();
    ASSERT_TRUE(wait_until([&] { return !received(id).is_null(); }));
    EXPECT_TRUE(received(id)["error"].is_null()) << received(id).dump();
  }
}

}  // namespace
}  // namespace kestrun_test
