// A conversation's distinct senders, the e-mail a reply all answers, and joined participant names.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "mail_fixture.h"

namespace kestrun_test {
namespace {

class ItemSendersTest : public MailTest {
 protected:
  // An e-mail of item "I" (JSON members, single-quoted).
  void email(const std::string& id, long long createdAt, const std::string& rest) {
    ASSERT_TRUE(applyEmail("{'_id': '" + id + "', 'acct_id': 'A', 'p_id': 'I', 'created_at': " +
                               std::to_string(createdAt) + ", " + rest + "}",
                           &data_));
  }
  std::shared_ptr<KSItem> stored() {
    newItem("I");
    commit();
    return KSItem::fetch("I", &reader_);
  }
  static std::string from(const std::string& address) { return "'from': {'address': '" + address + "'}"; }
};

TEST_F(ItemSendersTest, DistinctSendersNewestFirstWithoutTheUser) {
  email("E1", 100, from("ann@x.example"));
  email("E2", 300, from("Bob@X.example"));
  email("E3", 200, from("me@home.example"));
  email("E4", 400, from("ann@x.example"));
  email("E5", 50, "'subject': 'no sender'");
  std::vector<std::string> addresses;
  for (const auto& contact : stored()->distinctSenders()) addresses.push_back(contact->emailAddress());
  EXPECT_EQ(addresses, (std::vector<std::string>{"ann@x.example", "bob@x.example"}));
}

TEST_F(ItemSendersTest, ReplyAllAnswersTheNewestGroupEmail) {
  const std::string group = "'to': [{'address': 'b@x.example'}], 'cc': [{'address': 'c@x.example'}]";
  email("G", 100, from("a@x.example") + ", " + group);
  email("F", 300, from("a@x.example") + ", 'subject': 'Fwd: news', " + group);
  email("P", 200, from("a@x.example") + ", 'to': [{'address': 'A@x.example'}, {'address': 'b@x.example'}]");
  auto item = stored();
  EXPECT_EQ(item->replyAllEmailID(), "G");

  // An item without e-mails answers nothing.
  auto single = std::make_shared<KSItem>(&memory_);
  EXPECT_EQ(single->replyAllEmailID(), "");
}

TEST_F(ItemSendersTest, JoinedNames) {
  auto join = [](const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
      out += KSItem::joinParticipantName(names[i], static_cast<int>(i), static_cast<int>(names.size()));
    }
    return out;
  };
  EXPECT_EQ(join({"Ann"}), "Ann");
  EXPECT_EQ(join({"Ann", "Bob"}), "Ann & Bob");
  EXPECT_EQ(join({"Ann", "Bob", "Cy"}), "Ann, Bob, & Cy");
}

}  // namespace
}  // namespace kestrun_test
