// Cloud search: streamed e-mail and conversation results, the final answer (with "error" only
// when the search failed), folders, and fetching a found conversation.
#include <cctype>
#include <set>

#include "server_fixture.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class SearchTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    start();
    client_ = signed_in(&state_);
    ASSERT_TRUE(add_account(*client_, "maya.lind@example.com", "sample-com-password").is_object());
    snapshot_ = snapshot(*client_, "acct-example-com");
  }

  // Sends a query and returns every message that answers it, the final answer last.
  std::vector<Json> search(const std::string& search_id, const std::string& query,
                           const std::string& folder = "", const std::string& account = "acct-example-com") {
    Params params{{"account_id", account},
                  {"search_id", search_id},
                  {"query", query},
                  {"client_metadata", Params{{"num_accounts", 1}, {"network_state", 1}}}};
    if (!folder.empty()) params["folder"] = folder;
    client_->send(Json(Params{{"method", "SEARCH_QUERY"}, {"params", params}, {"id", "q-" + search_id}}));
    client_->wait_for([&](const Json& m) { return m["id"] == Json("q-" + search_id); });
    std::vector<Json> answers;
    for (const Json& m : client_->messages()) {
      if (m["type"] != Json("SEARCH_QUERY")) continue;
      const Json& about = m["params"].is_object()   ? m["params"]
                          : m["result"].is_object() ? m["result"]
                                                    : m["error"];
      if (about["search_id"] == Json(search_id)) answers.push_back(m);
    }
    return answers;
  }

  Json item_of(const std::string& id) {
    for (const Json& item : snapshot_["docs"]["item"].array_items())
      if (item["_id"] == Json(id)) return item;
    return Json();
  }

  Json state_;
  Json snapshot_;
  std::unique_ptr<SyncClient> client_;
};

TEST_F(SearchTest, ResultsStreamThenTheFinalAnswerWithoutAnError) {
  size_t expected = 0;
  for (const Json& email : snapshot_["docs"]["email"].array_items())
    expected += lower(email["subject"].string_value()).find("kitchen renovation") != std::string::npos;
  ASSERT_GT(expected, 0u);

  std::vector<Json> answers = search("s1", "KITCHEN Renovation");
  ASSERT_GE(answers.size(), 3u);
  const Json& last = answers.back();
  EXPECT_EQ(last["result"]["email_count"], Json(static_cast<int>(expected)));
  EXPECT_EQ(last["result"]["account_id"], Json("acct-example-com"));
  EXPECT_EQ(last.object_items().count("error"), 0u) << last.dump();

  size_t emails = 0;
  std::set<std::string> parents;
  for (size_t i = 0; i + 1 < answers.size(); ++i) {
    const Json& m = answers[i];
    if (m["method"] == Json("SEARCH_RESULT_EMAIL")) {
      for (const Json& email : m["params"]["emails"].array_items()) {
        ++emails;
        EXPECT_NE(lower(email["subject"].string_value()).find("kitchen renovation"), std::string::npos);
        parents.insert(email["p_id"].string_value());
      }
    } else {
      EXPECT_EQ(m["method"], Json("SEARCH_RESULT_ITEM"));
      EXPECT_EQ(i, answers.size() - 2) << "conversations follow their e-mails";
      EXPECT_EQ(m["params"]["threads"].array_items().size(), parents.size());
    }
  }
  EXPECT_EQ(emails, expected);

  // The same search in the inbox finds only what is there.
  std::vector<Json> inbox = search("s2", "kitchen renovation", "INBOX");
  for (const Json& m : inbox) {
    for (const Json& email : m["params"]["emails"].array_items())
      EXPECT_EQ(item_of(email["p_id"].string_value())["state"], Json(2));
  }
  EXPECT_LE(inbox.back()["result"]["email_count"].int_value(), static_cast<int>(expected));

  // A conversation found this way comes whole with its e-mails.
  const std::string thread = *parents.begin();
  Json fetched = client_->request(
      "SEARCH_FETCH", Params{{"account_id", "acct-example-com"}, {"search_id", "s1"}, {"thr_id", thread}});
  EXPECT_EQ(fetched["result"]["thread"]["_id"], Json(thread));
  EXPECT_EQ(fetched["result"]["search_id"], Json("s1"));
  for (const Json& email : fetched["result"]["emails"].array_items()) EXPECT_EQ(email["p_id"], Json(thread));
  EXPECT_FALSE(fetched["result"]["emails"].array_items().empty());
}

TEST_F(SearchTest, FailedSearchesAnswerWithAnErrorNamingTheSearch) {
  struct Case {
    const char* name;
    std::string query;
    std::string account;
    std::string code;
  };
  const std::vector<Case> cases = {
      {"empty query", "   ", "acct-example-com", "P1"},
      {"account of another device", "hello", "acct-example-net", "O1"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = "f" + std::to_string(++n);
    std::vector<Json> answers = search(id, c.query, "", c.account);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["error"]["code"], Json(c.code));
    EXPECT_EQ(answers[0]["error"]["search_id"], Json(id));
  }
  Json missing = client_->request(
      "SEARCH_FETCH", Params{{"account_id", "acct-example-com"}, {"search_id", "f9"}, {"thr_id", "none"}});
  EXPECT_EQ(missing["error"]["code"], Json("O2"));
  EXPECT_EQ(missing["error"]["search_id"], Json("f9"));
}

}  // namespace
}  // namespace sync_server_test
