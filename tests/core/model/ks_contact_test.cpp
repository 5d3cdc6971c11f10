#include "core/model/ks_contact.h"

#include <gtest/gtest.h>

#include <string>

#include "mail_fixture.h"

namespace kestrun_test {
namespace {

class ContactTest : public MailTest {
 protected:
  std::shared_ptr<KSContact> person(const std::string& text) {
    json_t* object = doc(text);
    auto contact = KSContact::findOrCreate(object, &data_);
    json_decref(object);
    return contact;
  }
};

TEST_F(ContactTest, FindOrCreateKeysByLoweredAddressAndName) {
  struct Case {
    std::string person;
    std::string id;  // empty: no contact
    std::string address;
    std::string name;
    std::string shortName;
    std::string fullName;
  };
  const Case cases[] = {
      {"{'address': 'bob@x.example', 'name': 'Bob Stone'}", "bob@x.example/Bob Stone", "bob@x.example",
       "Bob Stone", "Bob", "Bob Stone"},
      {"{'address': 'bob@x.example', 'name': 'Robert'}", "bob@x.example/Robert", "bob@x.example", "Robert",
       "Robert", "Robert"},
      {"{'address': 'Bob@X.example'}", "bob@x.example/Bob@X.example", "bob@x.example", "Bob@X.example",
       "Bob@X.example", "Bob@X.example"},
      {"{'address': 'ann@x.example', 'name': ' '}", "ann@x.example/ ", "ann@x.example", " ", "ann@x.example",
       "ann@x.example"},
      {"{'address': 'cy@x.example', 'name': '\\\"Cy\\tB\\\"'}", "cy@x.example/CyB", "cy@x.example", "CyB",
       "CyB", "CyB"},
      {"{'address': 'doe@x.example', 'name': 'Doe, John'}", "doe@x.example/Doe, John", "doe@x.example",
       "Doe, John", "John", "John Doe"},
      {"{'address': 'ab@x.example', 'name': 'A, B, C'}", "ab@x.example/A, B, C", "ab@x.example", "A, B, C",
       "A,", "A, B, C"},
      {"{'address': 'not an address', 'name': 'N'}", "", "", "", "", ""},
      {"{'address': 7, 'name': 'N'}", "", "", "", "", ""},
      {"{'name': 'N'}", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    auto contact = person(c.person);
    if (c.id.empty()) {
      EXPECT_FALSE(contact) << c.person;
      continue;
    }
    ASSERT_TRUE(contact) << c.person;
    EXPECT_EQ(contact->contactID(), c.id) << c.person;
    EXPECT_EQ(contact->emailAddress(), c.address) << c.person;
    EXPECT_EQ(contact->name(), c.name) << c.person;
    EXPECT_EQ(contact->shortDisplayName(), c.shortName) << c.person;
    EXPECT_EQ(contact->fullDisplayName(), c.fullName) << c.person;
  }
  commit();
  // The same person again is the stored contact, not a second one.
  auto again = person("{'address': 'BOB@x.example', 'name': 'Bob Stone'}");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->contactID(), "bob@x.example/Bob Stone");
  EXPECT_FALSE(again->isInserted());
  EXPECT_EQ(ids(reader_.contactsForEmailAddress("bob@x.example")).size(), 3u);
}

TEST_F(ContactTest, ParticipantEntryOfTheUsersOwnAddress) {
  auto own = person("{'address': 'me@home.example', 'name': 'Me Myself'}");
  auto other = person("{'address': 'bob@x.example', 'name': 'Bob Stone'}");
  EXPECT_EQ(dump(own->generateShortenedFromRepresentation(0, true)),
            R"({"me@home.example":{"full_display_name":"Note to self","is_current_user":true,)"
            R"("is_original_participant":true,"name":"Me Myself","short_display_name":"Me"}})");
  EXPECT_EQ(
      dump(other->generateShortenedFromRepresentation(42, false)),
      R"({"bob@x.example":{"full_display_name":"Bob Stone","is_current_user":false,)"
      R"("is_original_participant":false,"name":"Bob Stone","sent_at":42,"short_display_name":"Bob"}})");
}

TEST_F(ContactTest, DocumentsAndChangeReporting) {
  auto contact = person("{'address': 'bob@x.example', 'name': 'Bob'}");
  EXPECT_EQ(dump(contact->toJson()), R"({"address":"bob@x.example","name":"Bob"})");
  EXPECT_EQ(dump(contact->changesToJson({"name", "score"})), R"({"name":"Bob"})");
  commit();
  // A value equal to the present one reports nothing; a different one queues the contact.
  contact->setName("Bob");
  EXPECT_EQ(contact->changedColumnCount(), 0u);
  EXPECT_TRUE(commit().empty());
  contact->addToScore(3);
  EXPECT_EQ(commit()["KSCONTACT"][libkestrun::ConsumerChangeType::Update],
            std::unordered_set<std::string>{"bob@x.example/Bob"});
  EXPECT_EQ(KSContact::fetch("bob@x.example/Bob", &reader_)->score(), 3);
}

TEST_F(ContactTest, ScoreOrderIsStrict) {
  auto a = person("{'address': 'a@x.example'}");
  auto b = person("{'address': 'b@x.example'}");
  auto c = person("{'address': 'c@x.example'}");
  a->setScore(5);
  b->setScore(5);
  c->setScore(9);
  EXPECT_TRUE(KSContact::score_desc(c, a));
  EXPECT_FALSE(KSContact::score_desc(a, c));
  // Equal scores: exactly one of the two comes first.
  EXPECT_NE(KSContact::score_desc(a, b), KSContact::score_desc(b, a));
}

TEST_F(ContactTest, DisplayTexts) {
  auto contact = person("{'address': 'bob@x.example', 'name': 'Bob Stone'}");
  EXPECT_EQ(contact->nameWithAddress(), "Bob Stone <bob@x.example>");
  EXPECT_EQ(contact->nameWithAddressHtml(),
            "Bob Stone <<a href=\"mailto:bob@x.example\" target=\"_blank\">bob@x.example</a>>");
}

TEST_F(ContactTest, EmailListsLetTheContactAndItsEmailsGo) {
  ASSERT_TRUE(applyEmail("{'_id': 'E', 'acct_id': 'A', 'from': {'address': 'bob@x.example', 'name': 'Bob'}}",
                         &data_));
  commit();
  std::weak_ptr<KSContact> contactLeft;
  std::weak_ptr<KSEmail> emailLeft;
  {
    auto contact = KSContact::fetch("bob@x.example/Bob", &reader_);
    ASSERT_TRUE(contact);
    auto emails = contact->fromEmails();
    ASSERT_TRUE(emails);
    ASSERT_EQ(emails->size(), 1u);
    EXPECT_EQ((*emails)[0]->from(), contact);
    // Asked again while the e-mail lives, the list is the one already read.
    EXPECT_EQ(contact->fromEmails()->front(), emails->front());
    contactLeft = contact;
    emailLeft = emails->front();
  }
  reader_.reset();  // as the consumer center does after every commit
  EXPECT_TRUE(contactLeft.expired());
  EXPECT_TRUE(emailLeft.expired());
}

}  // namespace
}  // namespace kestrun_test
