// A recording stand-in for the object client: each call with its documents as they were at the call.
#pragma once

#include "core/sync/kestrun_object_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeKestrunObjectServerClient : public libkestrun::internal::KestrunObjectServerClient, public CallLog {
 public:
  void saveItem(json_t* doc, bool write) override { record("saveItem", {document(doc), write}); }
  void updateItem(json_t* changes, json_t* extra, bool write) override {
    record("updateItem", {document(changes), document(extra), write});
  }
  void archiveAll(const std::string& account_id, int64_t from_date,
                  libkestrun::ArchiveAllType type) override {
    record("archiveAll", {account_id, static_cast<long long>(from_date), number(type)});
  }
  void purgeAllTrash(const std::string& account_id, int64_t from_date) override {
    record("purgeAllTrash", {account_id, static_cast<long long>(from_date)});
  }
  void saveEmail(json_t* doc, libkestrun::EmailSendType type, const std::optional<std::string>& ref_email,
                 const std::optional<std::string>& ref_sync_data, bool full_body, bool write) override {
    record("saveEmail",
           {document(doc), number(type), optional(ref_email), optional(ref_sync_data), full_body, write});
  }
  void updateEmail(json_t* changes, bool write) override {
    record("updateEmail", {document(changes), write});
  }
  void flagEmail(const std::string& email_id, const std::string& account_id,
                 const std::string& reason) override {
    record("flagEmail", {email_id, account_id, reason});
  }
  void saveList(json_t* doc, bool write) override { record("saveList", {document(doc), write}); }
  void updateList(const std::string& list_id, const std::string& prev_name, const std::string& name,
                  const std::string& account_id, bool write) override {
    record("updateList", {list_id, prev_name, name, account_id, write});
  }
  void deleteList(const std::string& list_id, const std::string& name, const std::string& account_id,
                  bool write) override {
    record("deleteList", {list_id, name, account_id, write});
  }
};

}  // namespace kestrun_test
