// Drafts and sending e-mail through the data writer, on the data center with recording stand-ins
// for the server clients, the resource manager and the sync status.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/services/sync_status_manager.h"
#include "support/fake_sync_status_manager.h"
#include "writer_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::EmailSendState;
using libkestrun::EmailSendType;

// Accounts "A" (alias "A2") and "B", each with its own address and signature.
class MailAccounts : public FakeAccountManager {
 public:
  MailAccounts() {
    account_authenticated = true;
    account_ids = {"A", "A2", "B"};
    primary_account_id_for_address = std::string("A");
  }
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& id) override {
    auto account = std::make_shared<KSEmailAccount>();
    account->accountID = id;
    account->emailSignature = "SIG-" + id;
    return account;
  }
  std::string primaryAccountIDForAccountID(const std::string& id) override { return id == "A2" ? "A" : id; }
  json_t* accountJson(const std::string& id) override {
    record("accountJson", {id});
    return json_pack("{s:s, s:s}", "address", (id + "@home.example").c_str(), "name", id.c_str());
  }
};

class SendTest : public WriterTest {
 protected:
  SendTest() {
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::pref_manager_set_instance(prefs_);
    libkestrun::sync_status_manager_set_instance(sync_);
    prefs_->setHasAccountSpecificSignatures(true);
    server_->connected = true;
    // The answered e-mail: "Lunch" in conversation "I" of account "A".
    storeItem("I");
    storeEmail("E", "I", [](KSEmail& e) {
      e.set_SUBJECT("Lunch");
      e.set_SYNCDATA("{\"rev\": 7}");
    });
    objects_->clear();
  }
  ~SendTest() override { libkestrun::sync_status_manager_set_instance(nullptr); }

  static json_t* people(const std::string& address) {
    return json_pack("[{s:s, s:s}]", "address", address.c_str(), "name", "P");
  }

  Ids send(const std::string& subject, const std::string& conversation, const std::string& fullBody,
           const std::string& from, const std::string& associated, EmailSendType type) {
    return perform([&](Completion done) {
      KestrunDataWriter::sendEmail("OUT", subject, conversation, fullBody, from, people("to@x.example"),
                                   nullptr, nullptr, associated, type, done);
    });
  }

  // The calls of the object client with the given method.
  std::vector<Call> callsOf(const std::string& method) {
    std::vector<Call> out;
    for (const Call& call : objects_->calls()) {
      if (call.method == method) out.push_back(call);
    }
    return out;
  }

  std::shared_ptr<MailAccounts> accounts_ = std::make_shared<MailAccounts>();
  std::shared_ptr<libkestrun::PrefManager> prefs_ = std::make_shared<libkestrun::PrefManager>(
      &thread_, center_, std::make_shared<libkestrun::MemoryStore>(), accounts_.get());
  std::shared_ptr<FakeSyncStatusManager> sync_ = std::make_shared<FakeSyncStatusManager>();
};

TEST_F(SendTest, EachSendTypeStoresAndSendsItsEmail) {
  struct Case {
    const char* name;
    std::string subject, conversation, fullBody, from;
    std::string associated;
    EmailSendType type;
    // Expected:
    bool newItem;
    std::string storedSubject;
    std::string fromAddress;
    std::string signature;
    int sentType;
    Json refEmail, refSyncData;
    bool fullBodyFlag;
  } cases[] = {
      {"reply all with a typed subject", "Typed", "<p>ok</p>", "", "A", "E", EmailSendType::ReplyAll, false,
       "Re: Lunch", "a@home.example", "SIG-A", 1, "E", "{\"rev\": 7}", false},
      {"forward with an empty subject", "", "", "<p>whole</p>", "A", "E", EmailSendType::Forward, true,
       "Lunch", "a@home.example", "", 2, "E", "{\"rev\": 7}", true},
      {"reply from an alias", "", "hi", "", "A2", "E", EmailSendType::Reply, false, "Re: Lunch",
       "a2@home.example", "SIG-A2", 1, "E", "{\"rev\": 7}", false},
      {"reply from another account", "", "hi", "", "B", "E", EmailSendType::Reply, false, "Re: Lunch",
       "a@home.example", "SIG-B", 1, "E", "{\"rev\": 7}", false},
      {"new message", "Hello", "", "plain body", "A2", "", EmailSendType::NewMessage, true, "Hello",
       "a2@home.example", "", 3, nullptr, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    objects_->clear();
    inStore([](DBContext& context) {
      if (auto old = context.fetchEmail("OUT")) context.deleteObject(old);
    });
    Ids ids = send(c.subject, c.conversation, c.fullBody, c.from, c.associated, c.type);

    auto saves = callsOf("saveItem");
    ASSERT_EQ(saves.size(), c.newItem ? 1u : 0u);
    const std::string itemID = c.newItem ? saves[0].args[0]["_id"].string_value() : "I";
    EXPECT_EQ(ids, c.newItem ? Ids({itemID, "OUT"}) : Ids({"OUT"}));
    if (c.newItem) {
      EXPECT_EQ(saves[0].args[0]["subject"], Json(c.storedSubject));
      EXPECT_EQ(saves[0].args[0]["acct_id"], Json("A"));
      EXPECT_EQ(item(itemID).get_STATE(), libkestrun::ItemState::Archive);
    }

    auto stored = email("OUT");
    EXPECT_EQ(stored.get_SUBJECT(), c.storedSubject);
    EXPECT_EQ(stored.get_PARENTITEMID(), itemID);
    EXPECT_EQ(stored.get_ACCOUNTID(), "A");
    EXPECT_EQ(stored.get_SENDSTATE(), EmailSendState::Sending);
    EXPECT_EQ(stored.get_MFROMID().substr(0, c.fromAddress.size()), c.fromAddress);
    if (!c.signature.empty()) {
      EXPECT_NE(stored.get_FULLCONVERSATION().find(c.signature), std::string::npos);
    }

    auto sent = callsOf("saveEmail");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].args[0]["_id"], Json("OUT"));
    EXPECT_EQ(sent[0].args[1], Json(c.sentType));
    EXPECT_EQ(sent[0].args[2], c.refEmail);
    EXPECT_EQ(sent[0].args[3], c.refSyncData);
    EXPECT_EQ(sent[0].args[4], Json(c.fullBodyFlag));
    EXPECT_EQ(sent[0].args[5], Json(true));
  }
}

TEST_F(SendTest, NewMessageKeepsItsBodyAsTheFullBody) {
  struct Case {
    std::string body;
    bool isHtml;
  } cases[] = {{"plain body", false}, {"<p>marked up</p>", true}, {" padded ", true}};
  for (const Case& c : cases) {
    inStore([](DBContext& context) {
      if (auto old = context.fetchEmail("OUT")) context.deleteObject(old);
    });
    send("Hello", "", c.body, "A", "", EmailSendType::NewMessage);
    auto stored = email("OUT");
    EXPECT_EQ(stored.get_CONVERSATION(), c.body);
    EXPECT_TRUE(stored.get_HASFULLBODY());
    EXPECT_EQ(stored.get_FULLBODY(), c.body);
    EXPECT_EQ(stored.get_FULLBODYISHTML(), c.isHtml) << c.body;
  }
}

TEST_F(SendTest, ChecksAtTheCallQueueNothing) {
  struct Case {
    const char* name;
    json_t* to;
    json_t* bcc;
    std::string from, associated;
    EmailSendType type;
  } cases[] = {
      {"no recipients", json_array(), nullptr, "A", "E", EmailSendType::Reply},
      {"recipients not an array", json_object(), json_string("x"), "A", "E", EmailSendType::Reply},
      {"reply without the answered e-mail", people("a@x.example"), nullptr, "A", "", EmailSendType::Reply},
      {"reply all without it", people("a@x.example"), nullptr, "A", "", EmailSendType::ReplyAll},
      {"forward without it", people("a@x.example"), nullptr, "A", "", EmailSendType::Forward},
      {"new message without a sender", people("a@x.example"), nullptr, "", "", EmailSendType::NewMessage},
  };
  int called = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KestrunDataWriter::sendEmail("OUT", "s", "c", "", c.from, c.to, nullptr, c.bcc, c.associated, c.type,
                                 [&](Ids&) { ++called; });
  }
  // A task queued after them runs first; nothing reached the server or the store.
  perform([](Completion done) {
    KestrunDataWriter::sendSavedEmail("none", EmailSendType::Reply, {}, false, done);
  });
  EXPECT_EQ(called, 0);
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_TRUE(sync_->calls().empty());

  // Only a blind copy is enough; an unknown send type passes the checks and does nothing.
  json_t* bccOnly = people("b@x.example");
  EXPECT_EQ(perform([&](Completion done) {
              KestrunDataWriter::sendEmail("OUT", "", "hi", "", "A", json_array(), nullptr, bccOnly, "E",
                                           EmailSendType::Reply, done);
            }),
            Ids{"OUT"});
  EXPECT_TRUE(perform([&](Completion done) {
                KestrunDataWriter::sendEmail("OTHER", "", "hi", "", "A", people("a@x.example"), nullptr,
                                             nullptr, "E", static_cast<EmailSendType>(5), done);
              }).empty());
  // A missing answered e-mail ends the task quietly.
  EXPECT_TRUE(send("", "hi", "", "A", "missing", EmailSendType::Forward).empty());
  EXPECT_TRUE(callsOf("saveItem").empty());
}

TEST_F(SendTest, PendingUploadsHoldTheSend) {
  resources_->send_now = false;
  Ids ids = send("Hello", "", "body", "A", "", EmailSendType::NewMessage);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[1], "OUT");
  email("OUT");  // stored
  item(ids[0]);
  EXPECT_EQ(sync_->calls(), (std::vector<Call>{{"startedSendingMessage", Json::array{}}}));
  EXPECT_TRUE(callsOf("saveEmail").empty());
  EXPECT_EQ(resources_->calls().back(), (Call{"queueEmailSend", Json::array{"OUT", 3, "", true}}));

  // Offline: nothing counted as sending.
  sync_->clear();
  server_->connected = false;
  resources_->send_now = true;
  inStore([](DBContext& context) { context.deleteObject(context.fetchEmail("OUT")); });
  send("Hello", "", "body", "A", "", EmailSendType::NewMessage);
  EXPECT_TRUE(sync_->calls().empty());
  EXPECT_EQ(callsOf("saveEmail").size(), 1u);
}

TEST_F(SendTest, SavedEmailGoesOutOnlyWhileSendingOrFailed) {
  struct Case {
    EmailSendState state;
    std::string syncData;
    bool sent;
  } cases[] = {
      {EmailSendState::Sending, "", true},
      {EmailSendState::SendFailed, "{\"rev\": 2}", true},
      {EmailSendState::Sent, "", false},
      {EmailSendState::WaitingToSend, "", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = "S" + std::to_string(++n);
    storeEmail(id, "I", [&](KSEmail& e) {
      e.set_SENDSTATE(c.state);
      e.set_SYNCDATA(c.syncData);
      e.set_CONVERSATION("a<kestrun-img id=\"1\">bytes</kestrun-img>");
    });
    objects_->clear();
    Ids ids = perform([&](Completion done) {
      KestrunDataWriter::sendSavedEmail(id, EmailSendType::Reply, std::string("E"), true, done);
    });
    EXPECT_TRUE(ids.empty());
    auto sent = callsOf("saveEmail");
    ASSERT_EQ(sent.size(), c.sent ? 1u : 0u) << static_cast<int>(c.state);
    if (!c.sent) continue;
    EXPECT_EQ(sent[0].args[0]["conversation"], Json("a<kestrun-img id=\"1\"></kestrun-img>"));
    EXPECT_EQ(sent[0].args[2], Json("E"));
    EXPECT_EQ(sent[0].args[3], c.syncData.empty() ? Json(nullptr) : Json(c.syncData));
    EXPECT_EQ(sent[0].args[4], Json(true));
  }
}

TEST_F(SendTest, EachDraftSaveAndDeleteSendsOneCommand) {
  auto draft = [](int counter) {
    libkestrun::internal::Draft d;
    d.set_draft_id("D1");
    d.set_user_id("U");
    d.set_item_id(std::string("I"));
    d.set_modified_at(2000 + counter);
    d.set_version(libkestrun::internal::VectorClock({{"dev", counter}}));
    d.set_subject("Draft");
    d.set_from(libkestrun::internal::EmailName("Me", "A@home.example"));
    d.set_plain_content("text");
    return d;
  };
  server_->clear();
  EXPECT_TRUE(perform([&](Completion done) { KestrunDataWriter::save_draft(draft(1), done); }).empty());
  EXPECT_TRUE(perform([&](Completion done) { KestrunDataWriter::save_draft(draft(2), done); }).empty());
  EXPECT_EQ(item("I").get_DRAFTIDS(), std::set<std::string>{"D1"});
  EXPECT_TRUE(perform([&](Completion done) { KestrunDataWriter::delete_draft(draft(3), done); }).empty());
  EXPECT_TRUE(item("I").get_DRAFTIDS().empty());

  std::vector<std::string> methods;
  for (const Call& call : server_->calls()) {
    if (call.method == "send_command") methods.push_back(call.args[0].string_value());
  }
  EXPECT_EQ(methods, (std::vector<std::string>{"USER_ITEM_SAVE", "USER_ITEM_SAVE", "USER_ITEM_REMOVE"}));
}

}  // namespace
}  // namespace kestrun_test
