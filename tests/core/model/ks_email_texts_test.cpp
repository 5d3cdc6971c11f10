// The texts of an e-mail for replies and forwards, and the people and account a reply goes to and
// from.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "localization/localization.h"
#include "mail_fixture.h"
#include "support/pinned_zone.h"

namespace kestrun_test {
namespace {

// Account "A" (me@home.example) with the aliases of `aliases`; any other id names no account.
class AliasAccounts : public OwnAddressAccountManager {
 public:
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& id) override {
    if (id != "A") return nullptr;
    auto account = std::make_shared<KSEmailAccount>();
    account->accountID = "A";
    account->emailAddress = "me@home.example";
    return account;
  }
  uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& id) override {
    return id == "A" ? static_cast<uint32_t>(aliases.size()) : UINT32_MAX;
  }
  bool isAddressOfPrimaryAccount(const std::string& address, const std::string& id) override {
    return id == "A" && aliases.count(address) != 0;
  }
  std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                              const std::string& id) override {
    if (id != "A" || aliases.count(address) == 0) return nullptr;
    auto alias = std::make_shared<KSEmailAccount>();
    alias->accountID = "alias-" + address;
    alias->emailAddress = address;
    alias->parentAccountID = "A";
    return alias;
  }
  std::set<std::string> aliases;
};

class EmailTextsTest : public MailTest {
 protected:
  EmailTextsTest() {
    Localization::instance().set_current_locale("en");
    aliasAccounts_->account_authenticated = true;
    aliasAccounts_->own = {"me@home.example"};
    libkestrun::account_manager_set_instance(aliasAccounts_);
  }
  ~EmailTextsTest() override { Localization::instance().set_current_locale(""); }

  std::shared_ptr<KSEmail> subject(const std::string& text) {
    auto email = std::make_shared<KSEmail>(&memory_);
    email->set_SUBJECT(text);
    return email;
  }

  // An e-mail of account "A" with the given people (JSON members, single-quoted).
  std::shared_ptr<KSEmail> mail(const std::string& people) {
    return applyEmail("{'_id': 'E" + std::to_string(++count_) + "', 'acct_id': 'A', " + people + "}", &data_);
  }

  static std::vector<std::string> addresses(const KSEmail::Contacts& contacts) {
    std::vector<std::string> out;
    for (const auto& contact : *contacts) out.push_back(contact->emailAddress());
    return out;
  }

  std::shared_ptr<AliasAccounts> aliasAccounts_ = std::make_shared<AliasAccounts>();
  int count_ = 0;
};

TEST_F(EmailTextsTest, ReplyAndForwardSubjects) {
  struct Case {
    std::string subject;
    std::string reply;
    std::string forward;
    bool isForward;
  };
  const Case cases[] = {
      {"Re: lunch", "Re: lunch", "Fwd: Re: lunch", false},
      {"RE: lunch", "RE: lunch", "Fwd: RE: lunch", false},
      {"re:lunch", "re:lunch", "Fwd: re:lunch", false},
      {"rE: lunch", "Re: rE: lunch", "Fwd: rE: lunch", false},
      {"AW: lunch", "Re: AW: lunch", "Fwd: AW: lunch", false},
      {"", "Re: ", "Fwd: ", false},
      {"Fwd: lunch", "Re: Fwd: lunch", "Fwd: lunch", true},
      {"FWd: lunch", "Re: FWd: lunch", "FWd: lunch", true},
      {"FWD:lunch", "Re: FWD:lunch", "FWD:lunch", true},
      {"fwd: lunch", "Re: fwd: lunch", "fwd: lunch", true},
      {"fWd: lunch", "Re: fWd: lunch", "Fwd: fWd: lunch", false},
      {"Fwd", "Re: Fwd", "Fwd: Fwd", false},
      {"Fwd lunch", "Re: Fwd lunch", "Fwd: Fwd lunch", false},
      {"FWD-lunch", "Re: FWD-lunch", "Fwd: FWD-lunch", false},
  };
  for (const Case& c : cases) {
    auto email = subject(c.subject);
    EXPECT_EQ(email->generateReplySubject(), c.reply) << c.subject;
    EXPECT_EQ(email->generateForwardSubject(), c.forward) << c.subject;
    EXPECT_EQ(email->isForward(), c.isForward) << c.subject;
  }
  EXPECT_EQ(subject("")->emailSubject(), "(No Subject)");
  EXPECT_EQ(subject("Hi")->emailSubject(), "Hi");
}

TEST_F(EmailTextsTest, BodyTextOfEmptyBodies) {
  struct Case {
    std::string conversation;
    bool hasFullBody;
    std::string fullBody;
    std::string shown;
  };
  const Case cases[] = {
      {"Hello", true, "", "Hello"},
      {"", true, "", "This message has no content."},
      {"", true, "<p>full</p>", "..."},
      {"", false, "", "..."},
  };
  for (const Case& c : cases) {
    auto email = std::make_shared<KSEmail>(&memory_);
    email->set_CONVERSATION(c.conversation);
    email->set_HASFULLBODY(c.hasFullBody);
    email->set_FULLBODY(c.fullBody);
    EXPECT_EQ(email->emailConversation(), c.shown) << c.conversation << "/" << c.fullBody;
  }
}

TEST_F(EmailTextsTest, QuoteHeaderInPlainAndHtmlAndAnotherLanguage) {
  PinnedZone zone("UTC");
  auto email = mail("'created_at': 1772723220000, 'from': {'address': 'bob@x.example', 'name': 'Bob Stone'}");
  ASSERT_TRUE(email);
  const std::string date = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE, 1772723220000);
  const std::string time = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, 1772723220000);
  EXPECT_EQ(email->generateReplyBodyText(true),
            "On " + date + " at " + time + ", Bob Stone <bob@x.example>, wrote:");
  EXPECT_EQ(email->generateReplyBodyText(false),
            "On " + date + " at " + time +
                ", Bob Stone <<a href=\"mailto:bob@x.example\" target=\"_blank\">bob@x.example</a>>, wrote:");

  // A translation that puts the sender first.
  Localization::instance().set_current_locale("de");
  const std::string deDate = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE, 1772723220000);
  const std::string deTime = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, 1772723220000);
  EXPECT_EQ(email->generateReplyBodyText(true),
            "Bob Stone <bob@x.example> schrieb am " + deDate + " um " + deTime + ":");

  // Without a sender the third part is empty.
  Localization::instance().set_current_locale("en");
  auto anonymous = mail("'created_at': 1772723220000");
  EXPECT_EQ(anonymous->generateReplyBodyText(true), "On " + date + " at " + time + ", , wrote:");
}

TEST_F(EmailTextsTest, AttachmentTagsAreEmptiedInTheThreeBodies) {
  auto email = std::make_shared<KSEmail>(&memory_);
  email->set_CONVERSATION("a<kestrun-img id=\"1\">data</kestrun-img>b");
  email->set_FULLCONVERSATION("<kestrun-attach x>file</kestrun-attach>");
  email->set_FULLBODY("plain");
  email->clearChangedFields();
  email->processAttachmentTags();
  EXPECT_EQ(email->get_CONVERSATION(), "a<kestrun-img id=\"1\"></kestrun-img>b");
  EXPECT_EQ(email->get_FULLCONVERSATION(), "<kestrun-attach x></kestrun-attach>");
  EXPECT_EQ(email->get_FULLBODY(), "plain");
  EXPECT_TRUE(email->is_changed_CONVERSATION());
  EXPECT_TRUE(email->is_changed_FULLCONVERSATION());
  EXPECT_FALSE(email->is_changed_FULLBODY());
}

TEST_F(EmailTextsTest, ReplyRecipients) {
  aliasAccounts_->addresses = {"me@home.example", "alias@home.example"};
  struct Case {
    const char* name;
    std::string people;
    std::vector<std::string> to;
    std::vector<std::string> cc;
  };
  const std::string me = "{'address': 'me@home.example'}";
  const std::string a = "{'address': 'a@x.example'}";
  const std::string b = "{'address': 'b@x.example'}";
  const std::string x = "{'address': 'x@x.example'}";
  const Case cases[] = {
      {"own mail to A and B",
       "'from': " + me + ", 'to': [" + a + ", " + b + "], 'cc': [" + x + "]",
       {"a@x.example", "b@x.example"},
       {"x@x.example"}},
      {"own mail with only CC", "'from': " + me + ", 'cc': [" + a + "]", {}, {"a@x.example"}},
      {"own note to nobody", "'from': " + me, {"me@home.example"}, {}},
      {"from X to me and Y",
       "'from': " + x + ", 'to': [" + me + ", " + a + "], 'cc': [{'address': 'alias@home.example'}]",
       {"x@x.example"},
       {"a@x.example"}},
      {"reply-to before sender",
       "'from': " + x + ", 'reply_to': " + b + ", 'to': [" + me + "]",
       {"b@x.example"},
       {}},
      {"a person in TO and CC twice",
       "'from': " + x + ", 'to': [" + a + "], 'cc': [" + a + "]",
       {"x@x.example"},
       {"a@x.example", "a@x.example"}},
      {"no sender at all", "'to': [" + a + "]", {}, {"a@x.example"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto email = mail(c.people);
    ASSERT_TRUE(email);
    auto to = email->generateToContactsForEmailReply("me@home.example");
    auto cc = email->generateCcContactsForEmailReply("me@home.example");
    EXPECT_EQ(addresses(to), c.to);
    EXPECT_EQ(addresses(cc), c.cc);
  }
  // The user's own mail answers its own lists, not copies.
  auto own = mail("'from': " + me + ", 'to': [" + a + "], 'cc': [" + b + "]");
  EXPECT_EQ(own->generateToContactsForEmailReply("me@home.example"), own->to());
  EXPECT_EQ(own->generateCcContactsForEmailReply("me@home.example"), own->cc());
}

TEST_F(EmailTextsTest, ReplyAccountPrefersTheAccountThenTheAliasThatReceived) {
  aliasAccounts_->aliases = {"alias@home.example", "other@home.example"};
  const std::string me = "{'address': 'me@home.example'}";
  const std::string alias = "{'address': 'alias@home.example'}";
  const std::string other = "{'address': 'other@home.example'}";
  const std::string x = "{'address': 'x@x.example'}";
  struct Case {
    const char* name;
    std::string people;
    std::string account;
  };
  const Case cases[] = {
      {"alias in TO, account in CC", "'from': " + x + ", 'to': [" + alias + "], 'cc': [" + me + "]", "A"},
      {"alias alone", "'from': " + x + ", 'to': [" + alias + "]", "alias-alias@home.example"},
      {"later alias wins", "'from': " + x + ", 'to': [" + alias + "], 'bcc': [" + other + "]",
       "alias-other@home.example"},
      {"neither", "'from': " + x + ", 'to': [{'address': 'y@x.example'}]", "A"},
      {"sent from an alias", "'from': " + alias + ", 'to': [" + x + "]", "alias-alias@home.example"},
      {"reply-to alias before sender alias",
       "'from': " + alias + ", 'reply_to': " + other + ", 'to': [" + x + "]", "alias-other@home.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto email = mail(c.people);
    ASSERT_TRUE(email);
    auto account = email->generateUserResponseFromEmailAccount();
    ASSERT_TRUE(account);
    EXPECT_EQ(account->accountID, c.account);
  }

  // Without aliases the account answers at once; an unknown account answers nothing.
  aliasAccounts_->aliases.clear();
  EXPECT_EQ(mail("'to': [" + alias + "]")->generateUserResponseFromEmailAccount()->accountID, "A");
  auto stranger = applyEmail("{'_id': 'Z', 'acct_id': 'B', 'to': [" + alias + "]}", &data_);
  EXPECT_EQ(stranger->generateUserResponseFromEmailAccount(), nullptr);
}

}  // namespace
}  // namespace kestrun_test
