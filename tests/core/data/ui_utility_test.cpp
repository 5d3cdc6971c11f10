#include "core/data/ui_utility.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/model/mail_fixture.h"
#include "hvx/base64.h"
#include "localization/localization.h"

namespace kestrun_test {
namespace {

using libkestrun::UiUtility;

constexpr int kReply = 1, kForward = 2, kNewMessage = 3, kReplyAll = 4;

// Conversations stored through the writing context and read back through the reading one, as
// the conversation view's calls see them.
class UiUtilityTest : public MailTest {
 protected:
  UiUtilityTest() { Localization::instance().set_current_locale("en"); }
  ~UiUtilityTest() override { Localization::instance().set_current_locale(""); }

  // An e-mail of item "I": id, creation time, sender and the rest of its document.
  void email(const std::string& id, long long createdAt, const std::string& sender,
             const std::string& rest = "") {
    std::string people =
        sender.empty() ? "" : ", 'from': {'address': '" + sender + "', 'name': 'N " + sender + "'}";
    ASSERT_TRUE(applyEmail("{'_id': '" + id + "', 'acct_id': 'A', 'p_id': 'I', 'created_at': " +
                               std::to_string(createdAt) + people + (rest.empty() ? "" : ", " + rest) + "}",
                           &data_));
  }

  std::shared_ptr<KSItem> stored(const std::function<void(KSItem&)>& set = {}) {
    if (!KSItem::fetch("I", &data_)) newItem("I", set);
    commit();
    return KSItem::fetch("I", &reader_);
  }

  std::vector<std::string> choice(int sendType, const std::vector<std::string>& visible,
                                  const std::unordered_set<std::string>& opened) {
    std::vector<std::string> out;
    for (const auto& e : ui_.emails_to_reply_to(stored(), "me@home.example", sendType, visible, opened)) {
      out.push_back(e->get_EMAILID());
    }
    return out;
  }

  UiUtility ui_;
};

TEST_F(UiUtilityTest, ReplyChoiceSkipsTheUsersOwnMail) {
  email("A", 100, "ann@x.example");
  email("B", 200, "bob@x.example");
  email("C", 300, "me@home.example");
  for (int type : {kReply, kForward, kNewMessage, kReplyAll}) {
    EXPECT_EQ(choice(type, {"A", "B", "C"}, {"B", "C"}), std::vector<std::string>{"B"}) << type;
  }
  // Opened e-mails the view does not list are taken in the conversation's order.
  EXPECT_EQ(choice(kForward, {"X"}, {"B"}), std::vector<std::string>{"B"});
  // Only the user's own e-mails opened: all are kept.
  EXPECT_EQ(choice(kForward, {"A", "C"}, {"C"}), std::vector<std::string>{"C"});
}

TEST_F(UiUtilityTest, NothingOpenedAnswersTheNewestEmail) {
  // Stored out of time order; on equal times the later in the conversation's order wins.
  email("B", 300, "bob@x.example");
  email("A", 100, "ann@x.example");
  email("C", 300, "me@home.example");
  auto emails = *stored()->emails();
  ASSERT_EQ(emails.size(), 3u);
  std::string expected;
  for (const auto& e : emails) {
    if (e->get_CREATEDAT() == 300) expected = e->get_EMAILID();
  }
  for (int type : {kReply, kForward, kNewMessage, kReplyAll}) {
    EXPECT_EQ(choice(type, {}, {}), std::vector<std::string>{expected}) << type;
  }
}

TEST_F(UiUtilityTest, SeveralCandidatesBySendType) {
  const std::string two = "'to': [{'address': 'a@x.example'}], 'cc': [{'address': 'b@x.example'}]";
  email("P1", 100, "pat@x.example", two);
  email("Q1", 200, "quinn@x.example");
  email("P2", 300, "pat@x.example");
  email("P3", 300, "pat@x.example", two);
  email("N", 250, "", two);  // no sender: counts as sent from ""
  const std::vector<std::string> visible = {"P1", "Q1", "P2", "P3", "N"};

  struct Case {
    int type;
    std::unordered_set<std::string> opened;
    std::vector<std::string> chosen;
  } cases[] = {
      // One e-mail per sender, newest of each, senders in the order they first appear.
      {kReply, {"P1", "Q1", "P2"}, {"P2", "Q1"}},
      {kReply, {"N", "Q1"}, {"Q1", "N"}},
      // Equal creation times: the earlier candidate.
      {kForward, {"P2", "P3"}, {"P2"}},
      // Reply all wants two To and Cc recipients: none has them, so the first candidate.
      {kReplyAll, {"Q1", "P2"}, {"Q1"}},
      {kReplyAll, {"P1", "Q1", "P3"}, {"P3"}},
      {kNewMessage, {"P1", "Q1"}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choice(c.type, visible, c.opened), c.chosen) << c.type;
  }
  EXPECT_TRUE(ui_.emails_to_reply_to(nullptr, "me@home.example", kReply, {}, {}).empty());
}

TEST_F(UiUtilityTest, DocumentHeadAndHeaderImage) {
  const std::vector<unsigned char>& png = UiUtility::print_header_image();
  ASSERT_GT(png.size(), 33u);
  const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0,
                                     0,    13,  'I', 'H', 'D',  'R',  0,    0,    0, 169,
                                     0,    0,   0,   171, 8,    6,    0,    0,    0};
  EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
  // One IDAT chunk after the header holds every row: a filter byte and 169 RGBA pixels.
  ASSERT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
  const uLong deflated = (uLong{png[33]} << 24) | (uLong{png[34]} << 16) | (uLong{png[35]} << 8) | png[36];
  std::vector<unsigned char> rows(171 * (1 + 169 * 4) + 1);
  uLongf size = rows.size();
  ASSERT_EQ(uncompress(rows.data(), &size, png.data() + 41, deflated), Z_OK);
  EXPECT_EQ(size, 171u * (1 + 169 * 4));
  EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");

  email("A", 100, "ann@x.example");
  const std::string page = ui_.print_conversation(stored());
  const std::string head =
      "<html lang=\"en\"><head><meta http-equiv=Content-Type content=\"text/html; charset=UTF-8\"><style "
      "type=\"text/css\">body {font-family: \"Helvetica Neue\"; font-size: 16px;} div.ksprint-container { "
      "padding: "
      "10px; } div.ksprint-threadinfo { display: inline-block; width: 100%; padding-bottom: 14px; } "
      "span.ksprint-subject {float: left; font-family: \"Helvetica Neue\"; font-weight: bold; font-size: "
      "18px;} "
      "span.ksprint-threadcount {padding-top: 4px; float: right; font-family: \"Helvetica Neue\"; font-size: "
      "14px; "
      "color:rgb(146, 146, 146);} div.ksprint-emailrow { padding: 6px 0px; border-top-style: solid; "
      "border-top-color: black; border-top-width: 3px; } div.ksprint-contactrow { padding:0px 0px 4px 0px; } "
      "span.ksprint-descriptor { font-family: \"Helvetica Neue\"; font-weight: bold; font-size: 16px; "
      "padding-right: 4px; } span.ksprint-contact { font-family: \"Helvetica Neue\"; font-size: 16px; } "
      "div.ksprint-conversation { padding: 0px 0px 25px 20px; } div.ksprint-conversation pre span { "
      "font-family: "
      "\"Helvetica Neue\"; font-size: 16px; } </style></head><body><div class =\"ksprint-container\">";
  EXPECT_EQ(head.size(), 1079u);
  EXPECT_EQ(page.substr(0, head.size()), head);
  const std::string image = "<img src=\"data:image/png;base64," +
                            hvx_base64_encode(std::string(png.begin(), png.end())) +
                            "\" style=\"display: block; padding: 10px\" onload=\"this.width*=0.5\"/>";
  EXPECT_EQ(page.substr(head.size(), image.size()), image);
  EXPECT_EQ(page.substr(page.size() - 20), "</div></body></html>");
}

// The part of a page after the head and image.
std::string content(const std::string& page) {
  return page.substr(page.find("<div class=\"ksprint-threadinfo\">"));
}

TEST_F(UiUtilityTest, ConversationPage) {
  email(
      "A", 100, "ann@x.example",
      "'subject': 'x', 'conversation': 'if a < b && c', 'is_html': false, 'to': [{'address': 'b@x.example', "
      "'name': 'Bob'}, {'address': 'c@x.example', 'name': 'Cy <C>'}]");
  email("B", 200, "bob@x.example", "'conversation': '<p>Hi</p>', 'bcc': [{'address': 'd@x.example'}]");
  auto item = stored([](KSItem& i) { i.setSubject("<script>alert(1)</script> & more"); });
  item->setThreadCount(3);
  const std::string expected =
      "<div class=\"ksprint-threadinfo\"><span "
      "class=\"ksprint-subject\">&lt;script&gt;alert(1)&lt;/script&gt; "
      "&amp; more</span><span class=\"ksprint-threadcount\">3 messages</span></div>";
  const std::string page = content(ui_.print_conversation(item));
  ASSERT_EQ(page.substr(0, expected.size()), expected);

  std::string rowA =
      "<div class=\"ksprint-emailrow\"><div class=\"ksprint-contactrow\"><span "
      "class=\"ksprint-descriptor\">From:"
      "</span><span class=\"ksprint-contact\">N ann@x.example &lt;ann@x.example&gt;</span></div>"
      "<div class=\"ksprint-contactrow\"><span class=\"ksprint-descriptor\">To:</span><span "
      "class=\"ksprint-contact\">Bob &lt;b@x.example&gt;, Cy &lt;C&gt; &lt;c@x.example&gt;</span></div>"
      "<div class=\"ksprint-conversation\"><pre><span>if a &lt; b &amp;&amp; c</span></pre></div></div>";
  std::string rowB =
      "<div class=\"ksprint-emailrow\"><div class=\"ksprint-contactrow\"><span "
      "class=\"ksprint-descriptor\">From:"
      "</span><span class=\"ksprint-contact\">N bob@x.example &lt;bob@x.example&gt;</span></div>"
      "<div class=\"ksprint-contactrow\"><span class=\"ksprint-descriptor\">Bcc:</span><span "
      "class=\"ksprint-contact\">d@x.example &lt;d@x.example&gt;</span></div>"
      "<div class=\"ksprint-conversation\"><p>Hi</p></div></div>";
  // The rows follow the conversation's order of e-mails.
  std::string rows;
  for (const auto& e : *item->emails()) rows += e->get_EMAILID() == "A" ? rowA : rowB;
  EXPECT_EQ(page, expected + rows + "</div></body></html>");

  // A count of 1 is not shown.
  item->setThreadCount(1);
  EXPECT_EQ(content(ui_.print_conversation(item)).find("ksprint-threadcount"), std::string::npos);
}

TEST_F(UiUtilityTest, EmailPageShowsThePlainFullBody) {
  email("A", 100, "", "'conversation': 'short', 'full_body': true, 'is_html': false");
  auto item = stored([](KSItem& i) { i.setSubject("Plans"); });
  auto mail = KSEmail::fetch("A", &reader_);
  ASSERT_TRUE(mail);
  ASSERT_TRUE(mail->get_HASFULLBODY());
  mail->set_FULLBODY("the <whole> text");
  mail->set_FULLBODYISHTML(false);
  item->setThreadCount(5);
  EXPECT_EQ(
      content(ui_.print_email(mail)),
      "<div class=\"ksprint-threadinfo\"><span class=\"ksprint-subject\">Plans</span></div>"
      "<div class=\"ksprint-emailrow\"><div class=\"ksprint-conversation\"><pre><span>the &lt;whole&gt; "
      "text</span></pre></div></div></div></body></html>");
}

}  // namespace
}  // namespace kestrun_test
