// What the e-mail, contact, summary and draft tests share: the database fixture with the
// neighbours an e-mail reaches installed as recording fakes (the account manager that
// authenticates account "A" and knows the user's own addresses, the sync status manager's
// new-mail threshold, the device id, the server client and the attachment manager), and small
// builders of documents and drafts.
#pragma once

#include <jansson.h>

#include <memory>
#include <set>
#include <string>

#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "db_fixture.h"
#include "support/fake_account_manager.h"
#include "support/fake_attachment_manager.h"
#include "support/fake_server_client.h"
#include "support/fake_sync_status_manager.h"
#include "support/fake_user_manager.h"

namespace kestrun_test {

// Knows the user's own addresses one by one.
class OwnAddressAccountManager : public FakeAccountManager {
 public:
  bool hasEmailAddress(const std::string& address) override { return own.count(address) != 0; }
  std::set<std::string> own;
};

class MailTest : public DbContextTest {
 protected:
  MailTest() {
    accounts_->account_authenticated = true;
    accounts_->own = {"me@home.example"};
    accounts_->primary_account_id_for_address = std::string("A");
    sync_->new_email_timestamp = true;
    users_->device_id = "D";
    users_->user_id = "U";
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::sync_status_manager_set_instance(sync_);
    libkestrun::user_manager_set_instance(users_);
    libkestrun::internal::server_client_set_instance(server_);
    libkestrun::attachment_manager_set_instance(attachments_);
    memory_.clearStore();
  }
  ~MailTest() override {
    memory_.clearStore();
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::sync_status_manager_set_instance(nullptr);
    libkestrun::user_manager_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
    libkestrun::attachment_manager_set_instance(nullptr);
  }

  // Parses JSON text written with single quotes for readability.
  static json_t* doc(std::string text) {
    for (char& c : text) {
      if (c == '\'') c = '"';
    }
    json_error_t error;
    json_t* value = json_loads(text.c_str(), 0, &error);
    EXPECT_NE(value, nullptr) << error.text << " in " << text;
    return value;
  }

  // Applies an "email" document (given as text) to the context.
  static std::shared_ptr<KSEmail> applyEmail(const std::string& text, KestrunContext* context) {
    json_t* document = doc(text);
    auto object = KestrunContext::applyServerDocument(document, "email", "_id", context);
    json_decref(document);
    return std::static_pointer_cast<KSEmail>(object);
  }

  static std::string dump(json_t* value) {
    char* text = json_dumps(value, JSON_COMPACT | JSON_SORT_KEYS | JSON_ENCODE_ANY);
    std::string result = text != nullptr ? text : "null";
    std::free(text);
    json_decref(value);
    return result;
  }

  static libkestrun::internal::Draft draft(const std::string& id, std::optional<std::string> itemID,
                                           long long modifiedAt,
                                           libkestrun::internal::VectorClock::Entries version = {{"D", 1}}) {
    libkestrun::internal::Draft d;
    d.set_draft_id(id);
    d.set_user_id("U");
    d.set_item_id(std::move(itemID));
    d.set_created_at(modifiedAt);
    d.set_modified_at(modifiedAt);
    d.set_version(libkestrun::internal::VectorClock(std::move(version)));
    d.set_type(libkestrun::EmailSendType::Reply);
    d.set_subject("Draft " + id);
    d.set_from(libkestrun::internal::EmailName("Me", "me@home.example"));
    d.set_to({libkestrun::internal::EmailName("Bob", "bob@x.example")});
    d.set_plain_content("draft text " + id);
    return d;
  }

  std::shared_ptr<OwnAddressAccountManager> accounts_ = std::make_shared<OwnAddressAccountManager>();
  std::shared_ptr<FakeSyncStatusManager> sync_ = std::make_shared<FakeSyncStatusManager>();
  std::shared_ptr<FakeUserManager> users_ = std::make_shared<FakeUserManager>();
  std::shared_ptr<FakeServerClient> server_ = std::make_shared<FakeServerClient>();
  std::shared_ptr<FakeAttachmentManager> attachments_ = std::make_shared<FakeAttachmentManager>();
  MemoryContext memory_;
};

}  // namespace kestrun_test
