// A recording stand-in for the account requests of the sync connection. Each request is recorded
// with its arguments and kept with its callbacks until the test answers it, oldest first, with a
// result document or a failure code.
#pragma once

#include <deque>
#include <mutex>
#include <utility>

#include "core/foundation/json_conversion.h"
#include "core/sync/account_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeAccountServerClient : public libkestrun::internal::AccountServerClient, public CallLog {
 public:
  using Success = libkestrun::internal::AccountRequestSuccess;
  using Failure = libkestrun::internal::AccountRequestFailure;

  void addEmailAccountWithAccessCode(const std::string& access_code, libkestrun::EmailAccountType type,
                                     const std::string& locale, Success success, Failure failure) override {
    keep("addEmailAccountWithAccessCode", {access_code, number(type), locale}, success, failure);
  }
  void addEmailAccountWithPassword(const std::string& address, const std::string& password,
                                   libkestrun::EmailAccountType type, const std::string& locale,
                                   Success success, Failure failure) override {
    keep("addEmailAccountWithPassword", {address, password, number(type), locale}, success, failure);
  }
  void associateAccount(const std::string& account_id, Success success, Failure failure) override {
    keep("associateAccount", {account_id}, success, failure);
  }
  void reauthorizeEmailAccountWithAccessCode(const std::string& account_id, const std::string& access_code,
                                             Success success, Failure failure) override {
    keep("reauthorizeEmailAccountWithAccessCode", {account_id, access_code}, success, failure);
  }
  void reauthorizeEmailAccountWithPassword(const std::string& account_id, const std::string& password,
                                           Success success, Failure failure) override {
    keep("reauthorizeEmailAccountWithPassword", {account_id, password}, success, failure);
  }
  void updateEmailAccount(const std::string& account_id, const std::string& name,
                          const std::string& description, Success success, Failure failure) override {
    keep("updateEmailAccount", {account_id, name, description}, success, failure);
  }
  void addAliasToEmailAccount(const std::string& account_id, const std::string& address, Success success,
                              Failure failure) override {
    keep("addAliasToEmailAccount", {account_id, address}, success, failure);
  }
  void removeAliasFromEmailAccount(const std::string& account_id, const std::string& address, Success success,
                                   Failure failure) override {
    keep("removeAliasFromEmailAccount", {account_id, address}, success, failure);
  }

  void remove_email_account(const std::string& account_id, bool global, Success success, Failure failure) override {
    keep("remove_email_account", {account_id, global}, success, failure);
  }
  void handleAccountCreateResponse(const std::string& id, json_t* result, json_t* error) override {
    record("handleAccountCreateResponse", {id, document(result), document(error)});
  }
  void handleAccountAssociateResponse(const std::string& id, json_t* result, json_t* error) override {
    record("handleAccountAssociateResponse", {id, document(result), document(error)});
  }
  void handleAccountUpdateResponse(const std::string& id, json_t* result, json_t* error) override {
    record("handleAccountUpdateResponse", {id, document(result), document(error)});
  }
  void handleAccountRemoveResponse(const std::string& id, json_t* result, json_t* error) override {
    record("handleAccountRemoveResponse", {id, document(result), document(error)});
  }
  void handleAuthNotification(json_t* params) override { record("handleAuthNotification", {document(params)}); }
  void reset() override { record("reset"); }
  bool hasReceivedAuthForAccount(const std::string& account_id) override {
    record("hasReceivedAuthForAccount", {account_id});
    return false;
  }

  size_t pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
  }

  // Answers the oldest request with `result` as the reply's result.
  void reply(const jsonette::Json& result = jsonette::Json::object{}) {
    Success success = take().first;
    json_t* document = patch::jansson_from_json(result);
    success(document);
    json_decref(document);
  }
  // Fails the oldest request with `code`.
  void fail(KSServerClientAccountModifyFailureType code) { take().second(code); }

 private:
  void keep(std::string method, jsonette::Json::array args, const Success& success, const Failure& failure) {
    record(std::move(method), std::move(args));
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.emplace_back(success, failure);
  }

  std::pair<Success, Failure> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::pair<Success, Failure> oldest = std::move(pending_.front());
    pending_.pop_front();
    return oldest;
  }

  mutable std::mutex mutex_;
  std::deque<std::pair<Success, Failure>> pending_;  // guarded by mutex_
};

}  // namespace kestrun_test
