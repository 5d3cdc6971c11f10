#include "core/model/ks_email.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/model/ks_contact.h"
#include "core/model/ks_item.h"
#include "mail_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::EmailSendState;

class EmailTest : public MailTest {
 protected:
  // The contact ids of an e-mail's TO links as stored.
  std::vector<std::string> storedTo(const std::string& emailID) {
    return ids(reader_.toContactsForEmail(emailID));
  }
};

TEST_F(EmailTest, NewEmailHasTheDefaultsOfAReceivedMessageAndNoChange) {
  auto email = std::make_shared<KSEmail>(&data_);
  EXPECT_EQ(email->get_PREVIEW(), "This message has no content.");
  EXPECT_TRUE(email->get_CONVERSATIONISHTML());
  EXPECT_TRUE(email->get_FULLBODYISHTML());
  EXPECT_EQ(email->sendState(), EmailSendState::None);
  EXPECT_EQ(email->changedColumnCount(), 0u);
}

TEST_F(EmailTest, SendStateFollowsTheServersAnswer) {
  struct Case {
    EmailSendState before;
    std::string keys;
    EmailSendState after;
  };
  const Case cases[] = {
      {EmailSendState::Sending, "'saved_at': 5", EmailSendState::Sent},
      {EmailSendState::WaitingToSend, "'saved_at': 5", EmailSendState::WaitingToSend},
      {EmailSendState::None, "'send_failed': 4", EmailSendState::SendFailed},
      {EmailSendState::Sent, "'send_failed': 4", EmailSendState::SendFailed},
      {EmailSendState::Sending, "'saved_at': 5, 'send_failed': 4", EmailSendState::SendFailed},
      {EmailSendState::Sending, "'send_failed': 3", EmailSendState::Sending},
      {EmailSendState::Sending, "'send_failed': '4'", EmailSendState::Sending},
  };
  for (const Case& c : cases) {
    auto email = std::make_shared<KSEmail>(&memory_);
    email->set_EMAILID("E");
    email->set_SENDSTATE(c.before);
    email->set_LOADEDONCE(true);
    json_t* document = doc("{'_id': 'E', " + c.keys + "}");
    KestrunContext::applyDocumentFields(email, document);
    json_decref(document);
    EXPECT_EQ(email->sendState(), c.after) << c.keys << " from " << static_cast<int>(c.before);
  }
}

TEST_F(EmailTest, RecipientsAreLinkedFromTheFirstDocumentOnlyAndScoredBySender) {
  const std::string people =
      "'from': {'address': 'me@home.example', 'name': 'Me'}, 'to': [{'address': 'bob@x.example', 'name': "
      "'Bob'}, 3],"
      "'cc': [{'address': 'carol@x.example'}, {'address': 'not an address'}], 'bcc': [{'address': "
      "'dan@x.example'}]";
  auto sent = applyEmail("{'_id': 'S', 'acct_id': 'A', 'sent': true, " + people + "}", &data_);
  auto received = applyEmail("{'_id': 'R', 'acct_id': 'A', " + people + "}", &data_);
  ASSERT_TRUE(sent && received);
  commit();

  // Two e-mails of the same people: one sent (10 each) and one received (1 each).
  for (const char* id :
       {"bob@x.example/Bob", "carol@x.example/carol@x.example", "dan@x.example/dan@x.example"}) {
    auto contact = KSContact::fetch(id, &reader_);
    ASSERT_TRUE(contact) << id;
    EXPECT_EQ(contact->score(), 11) << id;
  }
  EXPECT_EQ(storedTo("S"), std::vector<std::string>{"bob@x.example/Bob"});
  EXPECT_EQ(ids(reader_.ccContactsForEmail("S")),
            std::vector<std::string>{"carol@x.example/carol@x.example"});
  EXPECT_EQ(ids(reader_.bccContactsForEmail("S")), std::vector<std::string>{"dan@x.example/dan@x.example"});
  EXPECT_EQ(reader_.fetchEmail("S")->get_MFROMID(), "me@home.example/Me");

  // A second document with other people changes no link and no score.
  auto again = applyEmail(
      "{'_id': 'S', 'acct_id': 'A', 'saved_at': 9, 'subject': 'Re', 'to': [{'address': 'eve@x.example'}]}",
      &data_);
  ASSERT_EQ(again, sent);
  commit();
  reader_.reset();  // as the consumer center does after every commit
  EXPECT_EQ(storedTo("S"), std::vector<std::string>{"bob@x.example/Bob"});
  EXPECT_EQ(KSContact::fetch("bob@x.example/Bob", &reader_)->score(), 11);
  EXPECT_FALSE(KSContact::fetch("eve@x.example/eve@x.example", &reader_));
  EXPECT_EQ(reader_.fetchEmail("S")->get_SUBJECT(), "Re");
}

TEST_F(EmailTest, DeletingAnEmailRemovesItsLinks) {
  ASSERT_TRUE(applyEmail("{'_id': 'S', 'acct_id': 'A', 'to': [{'address': 'bob@x.example'}]}", &data_));
  commit();
  data_.deleteObject(KSEmail::fetch("S", &data_));
  commit();
  EXPECT_FALSE(reader_.emailExists("S"));
  EXPECT_TRUE(storedTo("S").empty());
}

TEST_F(EmailTest, ToJsonWritesFlagsAsNumbersAndRecipientsOnlyWhenThere) {
  auto plain =
      applyEmail("{'_id': 'E', 'acct_id': 'A', 'read': true, 'p_id': 'I', 'subject': 'Hi'}", &memory_);
  ASSERT_TRUE(plain);
  EXPECT_EQ(
      dump(plain->toJson()),
      R"({"_id":"E","acct_id":"A","conversation":"","created_at":0,"full_body":"","full_conversation":"",)"
      R"("is_html":1,"p_id":"I","preview":"This message has no content.","read":1,"sent":0,"starred":0,)"
      R"("subject":"Hi"})");

  auto withPeople = applyEmail(
      "{'_id': 'F', 'acct_id': 'A', 'from': {'address': 'Bob@X.example', 'name': 'Bob'},"
      " 'cc': [{'address': 'carol@x.example', 'name': 'Carol'}]}",
      &memory_);
  json_t* document = withPeople->toJson();
  EXPECT_EQ(dump(json_incref(json_object_get(document, "from"))),
            R"({"address":"bob@x.example","name":"Bob"})");
  EXPECT_EQ(dump(json_incref(json_object_get(document, "cc"))),
            R"([{"address":"carol@x.example","name":"Carol"}])");
  EXPECT_EQ(json_object_get(document, "to"), nullptr);
  EXPECT_EQ(json_integer_value(json_object_get(document, "read")), 0);
  json_decref(document);
}

TEST_F(EmailTest, ChangesToJsonAlwaysNamesTheItem) {
  auto email =
      applyEmail("{'_id': 'E', 'acct_id': 'A', 'p_id': 'I', 'starred': true, 'subject': 'S'}", &memory_);
  EXPECT_EQ(dump(email->changesToJson({})), R"({"_id":"E","acct_id":"A","p_id":"I"})");
  EXPECT_EQ(dump(email->changesToJson({"starred", "read", "unknown"})),
            R"({"_id":"E","acct_id":"A","p_id":"I","read":0,"starred":1})");
}

TEST_F(EmailTest, AttachmentMarkersSetTheFlagForGood) {
  for (const char* marker :
       {"<kestrun-attach id=1>", "<kestrun-img src=x>", "<a class=\\\"ks-hv-attachment-link\\\">"}) {
    auto email = applyEmail(std::string("{'_id': 'E', 'acct_id': 'A', 'conversation': 'see ") + marker + "'}",
                            &memory_);
    ASSERT_TRUE(email) << marker;
    EXPECT_TRUE(email->get_HASATTACHMENTS()) << marker;
    json_t* later = doc("{'_id': 'E', 'conversation': 'no marker'}");
    KestrunContext::applyDocumentFields(email, later);
    json_decref(later);
    EXPECT_TRUE(email->get_HASATTACHMENTS()) << marker;
    memory_.clearStore();
  }
  auto plain =
      applyEmail("{'_id': 'E', 'acct_id': 'A', 'conversation': 'class=ks-hv-attachment-link'}", &memory_);
  EXPECT_FALSE(plain->get_HASATTACHMENTS());
}

TEST_F(EmailTest, FullBodyIsTakenFromTheConversationUnlessAlreadyComplete) {
  auto email = applyEmail("{'_id': 'E', 'acct_id': 'A', 'conversation': 'one', 'full_body': true}", &memory_);
  EXPECT_TRUE(email->get_HASFULLBODY());
  EXPECT_EQ(email->get_FULLBODY(), "one");
  json_t* later = doc("{'_id': 'E', 'conversation': 'two', 'full_body': true}");
  KestrunContext::applyDocumentFields(email, later);
  EXPECT_EQ(email->get_FULLBODY(), "one");
  email->set_HASATTACHMENTS(true);
  KestrunContext::applyDocumentFields(email, later);
  json_decref(later);
  EXPECT_EQ(email->get_FULLBODY(), "two");
}

TEST_F(EmailTest, NewIncomingInboxEmail) {
  struct Case {
    const char* name;
    libkestrun::ItemState itemState;  // None: no item stored
    bool sent;
    bool passesThreshold;
    bool expected;
  };
  const Case cases[] = {
      {"item in the inbox", libkestrun::ItemState::Inbox, false, true, true},
      {"item archived", libkestrun::ItemState::Archive, false, true, false},
      {"no item", libkestrun::ItemState::None, false, true, true},
      {"sent by the user", libkestrun::ItemState::Inbox, true, true, false},
      {"older than the threshold", libkestrun::ItemState::Inbox, false, false, false},
  };
  for (const Case& c : cases) {
    memory_.clearStore();
    sync_->new_email_timestamp = c.passesThreshold;
    if (c.itemState != libkestrun::ItemState::None) {
      auto item = std::static_pointer_cast<KSItem>(memory_.createObject("KSITEM", "I"));
      item->setState(c.itemState);
    }
    auto email =
        applyEmail(std::string("{'_id': 'E', 'acct_id': 'A', 'p_id': 'I', 'created_at': 7, 'sent': ") +
                       (c.sent ? "true" : "false") + "}",
                   &memory_);
    EXPECT_EQ(email->isNewIncomingInboxEmail(), c.expected) << c.name;
  }
  // An e-mail that is not new is never a new incoming one.
  sync_->new_email_timestamp = true;
  auto stored = std::make_shared<KSEmail>(&memory_);
  stored->setInserted(false);
  EXPECT_FALSE(stored->isNewIncomingInboxEmail());
}

TEST_F(EmailTest, SendDocumentPreviewEndsOnACharacterWithinTheLimit) {
  // 99 ASCII bytes, then a three-byte character across the 100-byte limit.
  const std::string text = std::string(99, 'a') + "\xE2\x82\xAC tail";
  json_t* document = KSEmail::makeSendDocument("E", "Subject", text, "", nullptr, nullptr, nullptr, nullptr,
                                               "A", "<sig>", "I", libkestrun::EmailSendType::NewMessage);
  json_t* preview = json_object_get(document, "preview");
  ASSERT_TRUE(json_is_string(preview));
  EXPECT_EQ(std::string(json_string_value(preview)), std::string(99, 'a'));
  EXPECT_EQ(std::string(json_string_value(json_object_get(document, "full_conversation"))), text + "<sig>");
  EXPECT_TRUE(json_is_false(json_object_get(document, "full_body")));
  json_decref(document);
}

TEST_F(EmailTest, SendDocumentPreviewWhenThereIsNoText) {
  struct Case {
    std::string conversation;
    std::string fullBody;
    libkestrun::EmailSendType type;
    std::string preview;
  };
  using libkestrun::EmailSendType;
  const Case cases[] = {
      {"", "", EmailSendType::Reply, "reply body contents"},
      {"", "", EmailSendType::ReplyAll, "reply body contents"},
      {"", "", EmailSendType::Forward, "forwarded message"},
      {"", "", EmailSendType::NewMessage, "This message has no content."},
      {"<br>", "", EmailSendType::Reply, "..."},
      {"", "<p>body</p>", EmailSendType::Reply, "body"},
  };
  for (const Case& c : cases) {
    json_t* document = KSEmail::makeSendDocument("E", "S", c.conversation, c.fullBody, nullptr, nullptr,
                                                 nullptr, nullptr, "A", "", "I", c.type);
    EXPECT_EQ(std::string(json_string_value(json_object_get(document, "preview"))), c.preview)
        << c.conversation << "|" << c.fullBody;
    json_decref(document);
  }
}

TEST_F(EmailTest, AppliedSendDocumentMakesASendingEmailWithItsRecipients) {
  json_t* sender = doc("{'address': 'me@home.example', 'name': 'Me'}");
  json_t* document = KSEmail::makeSendDocument(
      "E", "Subject", "<p>Hello</p>", "", sender, doc("[{'address': 'bob@x.example', 'name': 'Bob'}]"),
      json_array(), nullptr, "A", "", "I", libkestrun::EmailSendType::NewMessage);
  json_decref(sender);
  EXPECT_EQ(json_object_get(document, "cc"), nullptr);
  auto email = std::static_pointer_cast<KSEmail>(
      KestrunContext::applyServerDocument(document, "email", "_id", &data_));
  json_decref(document);
  ASSERT_TRUE(email);
  EXPECT_EQ(email->sendState(), EmailSendState::Sending);
  EXPECT_TRUE(email->get_READ());
  EXPECT_TRUE(email->get_SENT());
  EXPECT_EQ(email->get_PREVIEW(), "Hello");
  EXPECT_EQ(email->get_MFROMID(), "me@home.example/Me");
  EXPECT_EQ(email->get_MREPLYTOID(), "me@home.example/Me");
  ASSERT_EQ(email->to()->size(), 1u);
  EXPECT_EQ(email->to()->front()->score(), 10);
}

TEST_F(EmailTest, CreatedAtAscLeavesEqualTimesEquivalent) {
  auto a = std::make_shared<KSEmail>(&memory_);
  auto b = std::make_shared<KSEmail>(&memory_);
  a->set_CREATEDAT(5);
  b->set_CREATEDAT(5);
  EXPECT_FALSE(KSEmail::CreatedAtAsc()(a, b));
  EXPECT_FALSE(KSEmail::CreatedAtAsc()(b, a));
  b->set_CREATEDAT(6);
  EXPECT_TRUE(KSEmail::CreatedAtAsc()(a, b));
}

}  // namespace
}  // namespace kestrun_test

namespace kestrun_test {
namespace {

TEST(EmailChangeFilterTest, OnlyShownColumnsCount) {
  auto before = std::make_shared<KSEmail>(nullptr);
  before->set_EMAILID("E");
  struct Case {
    const char* name;
    std::function<void(KSEmail&)> change;
    bool visible;
  } cases[] = {
      {"nothing", [](KSEmail&) {}, false},
      {"loaded once", [](KSEmail& e) { e.set_LOADEDONCE(true); }, false},
      {"saved and synced",
       [](KSEmail& e) {
         e.set_SAVEDAT(9);
         e.set_SYNCDATA("{}");
       },
       false},
      {"read", [](KSEmail& e) { e.set_READ(true); }, true},
      {"send state", [](KSEmail& e) { e.set_SENDSTATE(libkestrun::EmailSendState::Sent); }, true},
      {"full body", [](KSEmail& e) { e.set_FULLBODY("x"); }, true},
  };
  for (const Case& c : cases) {
    auto after = std::make_shared<KSEmail>(nullptr, static_cast<const libkestrun::internal::Email&>(*before));
    c.change(*after);
    EXPECT_EQ(KSEmail::ChangeIsUserVisible()(before, after), c.visible) << c.name;
  }
}

}  // namespace
}  // namespace kestrun_test
