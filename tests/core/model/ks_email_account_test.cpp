#include "core/model/ks_email_account.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_user_email_account_assoc.h"
#include "core/store/email_name.h"

namespace {

using jsonette::Json;
using libkestrun::EmailAccountType;

Json parse(const std::string& text) {
  std::string err;
  Json value = Json::parse(text, err);
  EXPECT_EQ(err, "") << text;
  return value;
}

TEST(EmailAccountTest, ReadsEveryMemberAndWritesThemBack) {
  const Json stored = parse(
      R"({"accountID": "A1", "emailAddress": "me@x.example", "emailName": "Me", "emailDescription": "Work",
          "emailSignature": "<b>Me</b>", "emailType": 3, "authenticated": true, "isDefault": true,
          "hasSpam": false, "isPrimary": false, "parentAccountID": "P1"})");
  KSEmailAccount account(stored);
  EXPECT_EQ(account.accountID, "A1");
  EXPECT_EQ(account.emailAddress, "me@x.example");
  EXPECT_EQ(account.emailName, "Me");
  EXPECT_EQ(account.emailDescription, "Work");
  EXPECT_EQ(account.emailSignature, "<b>Me</b>");
  EXPECT_EQ(account.emailType, EmailAccountType::Office365);
  EXPECT_TRUE(account.authenticated);
  EXPECT_TRUE(account.isDefault);
  EXPECT_FALSE(account.hasSpam);
  EXPECT_FALSE(account.isPrimary);
  EXPECT_EQ(account.parentAccountID, "P1");
  EXPECT_EQ(account.to_json(), stored);

  KSEmailAccount copy = account;
  EXPECT_EQ(copy.to_json(), stored);
  EXPECT_EQ(account.emailNameRepresentation(), libkestrun::internal::EmailName("Me", "me@x.example"));
}

TEST(EmailAccountTest, MissingOrMistypedMembersKeepDefaults) {
  // Stored without "isPrimary": an account written before aliases existed, so primary.
  KSEmailAccount bare(parse(R"({"accountID": "A1"})"));
  EXPECT_TRUE(bare.isPrimary);
  EXPECT_TRUE(bare.hasSpam);
  EXPECT_FALSE(bare.isDefault);
  EXPECT_EQ(bare.emailType, EmailAccountType{});

  KSEmailAccount mistyped(parse(
      R"({"accountID": 7, "emailAddress": null, "emailType": "3", "isDefault": 1, "hasSpam": "no",
          "isPrimary": "false", "parentAccountID": []})"));
  EXPECT_EQ(mistyped.accountID, "");
  EXPECT_EQ(mistyped.emailAddress, "");
  EXPECT_EQ(mistyped.emailType, EmailAccountType{});
  EXPECT_FALSE(mistyped.isDefault);
  EXPECT_TRUE(mistyped.hasSpam);
  EXPECT_TRUE(mistyped.isPrimary);
  EXPECT_EQ(mistyped.parentAccountID, "");

  // A value that is not an object reads nothing, so it is not primary either.
  EXPECT_FALSE(KSEmailAccount(Json("A1")).isPrimary);
  EXPECT_EQ(KSEmailAccount(Json(nullptr)).to_json(), KSEmailAccount().to_json());
}

TEST(EmailAccountTest, DefaultAccountJson) {
  const Json json = KSEmailAccount().to_json();
  EXPECT_EQ(json.object_items().size(), 11u);
  EXPECT_EQ(json["hasSpam"], Json(true));
  EXPECT_EQ(json["isPrimary"], Json(false));
  EXPECT_EQ(json["isDefault"], Json(false));
  EXPECT_EQ(json["emailType"], Json(0));
  EXPECT_EQ(json["parentAccountID"], Json(""));
}

std::shared_ptr<KSEmailAccount> account(const std::string& description, const std::string& address,
                                        bool isDefault, bool isPrimary) {
  auto result = std::make_shared<KSEmailAccount>();
  result->emailDescription = description;
  result->emailAddress = address;
  result->isDefault = isDefault;
  result->isPrimary = isPrimary;
  return result;
}

TEST(EmailAccountTest, NaturalOrder) {
  struct Case {
    const char* name;
    std::shared_ptr<KSEmailAccount> a, b;
    bool a_first, b_first;
  };
  const Case cases[] = {
      {"default alias before non-default primary", account("Z", "z@x", true, false),
       account("A", "a@x", false, true), true, false},
      {"primary before alias", account("Z", "z@x", false, true), account("A", "a@x", false, false), true,
       false},
      {"upper case label before lower-case address", account("Work", "w@x", false, true),
       account("", "alice@x", false, true), true, false},
      {"prefix label first", account("Home", "", false, true), account("Home 2", "", false, true), true,
       false},
      {"bytes above 0x7f after ASCII", account("\xc3\x89t\xc3\xa9", "", false, true),
       account("zeta", "", false, true), false, true},
      {"equal labels are neither", account("Same", "a@x", false, true), account("Same", "b@x", false, true),
       false, false},
  };
  KSEmailAccount::NaturalOrder less;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(less(c.a, c.b), c.a_first);
    EXPECT_EQ(less(c.b, c.a), c.b_first);
  }

  std::vector<std::shared_ptr<KSEmailAccount>> list = {
      account("", "bob@x", false, false), account("Work", "w@x", false, true),
      account("", "ann@x", false, true), account("Home", "h@x", true, false)};
  std::sort(list.begin(), list.end(), less);
  std::vector<std::string> order;
  for (const auto& a : list)
    order.push_back(a->emailDescription.empty() ? a->emailAddress : a->emailDescription);
  EXPECT_EQ(order, (std::vector<std::string>{"Home", "Work", "ann@x", "bob@x"}));
}

TEST(UserEmailAccountAssocTest, ReadsAndWritesEveryMember) {
  const Json stored = parse(
      R"({"accountID": "A1", "emailAddress": "me@x.example", "emailType": 1, "associated": true,
          "auto_authorize": false, "authorized": true, "has_associated": true})");
  KSUserEmailAccountAssoc assoc(stored);
  EXPECT_EQ(assoc.accountID, "A1");
  EXPECT_EQ(assoc.emailAddress, "me@x.example");
  EXPECT_EQ(assoc.emailType, EmailAccountType::Gmail);
  EXPECT_TRUE(assoc.associated);
  EXPECT_FALSE(assoc.auto_authorize);
  EXPECT_TRUE(assoc.authorized);
  EXPECT_TRUE(assoc.has_associated);
  EXPECT_EQ(assoc.to_json(), stored);

  KSUserEmailAccountAssoc partial(parse(R"({"accountID": "A2", "associated": "yes", "emailType": "1"})"));
  EXPECT_EQ(partial.to_json(), parse(R"({"accountID": "A2", "emailAddress": "", "emailType": 0,
      "associated": false, "auto_authorize": false, "authorized": false, "has_associated": false})"));
  EXPECT_EQ(KSUserEmailAccountAssoc(Json::array{}).to_json(), KSUserEmailAccountAssoc().to_json());
}

}  // namespace
