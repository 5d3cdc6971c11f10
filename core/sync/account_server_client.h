// The account requests of the sync connection, as the account manager sees them: adding,
// associating, re-authorising, updating and removing a mail account and changing its aliases; and
// the replies and "AUTH" notifications the incoming dispatch hands over. The full client
// (AccountServerClientImpl: requests, replies, time-outs, resets) implements this interface.
//
// Callbacks: every request calls exactly one of its two callbacks, once, on the core thread. A
// success callback borrows the reply's result for the duration of the call; the add and associate
// replies are server account documents ({"account_id", "data", "name", "description", "type",
// "aliases"}), the others are not read. Requests are made on the core thread.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/accounts/email_account_type.h"

// Why an account request failed.
enum class KSServerClientAccountModifyFailureType : int32_t {
  Other = 0,
  Refused = 1,              // the server's codes "A2" and "A3"
  EmptyArguments = 2,       // refused at the call, nothing sent
  ImapFoldersDisabled = 3,  // the server's code "A10"
  Timeout = 4,              // no reply within the request's time-out
  NoSuchAccount = 5,        // the server's code "A1"
};

namespace libkestrun::internal {

using AccountRequestSuccess = std::function<void(json_t* result)>;
using AccountRequestFailure = std::function<void(KSServerClientAccountModifyFailureType)>;

class AccountServerClient {
 public:
  virtual ~AccountServerClient() = default;

  // "ACCOUNT_CREATE" {"type", "credentials": {"access_code"}, "locale"}; an empty code fails at
  // once with EmptyArguments.
  virtual void addEmailAccountWithAccessCode(const std::string& access_code, EmailAccountType type,
                                             const std::string& locale, AccountRequestSuccess success,
                                             AccountRequestFailure failure) = 0;
  // "ACCOUNT_CREATE" {"type", "credentials": {"password"}, "data": address, "locale"}; an empty
  // address or password fails at once with EmptyArguments.
  virtual void addEmailAccountWithPassword(const std::string& address, const std::string& password,
                                           EmailAccountType type, const std::string& locale,
                                           AccountRequestSuccess success, AccountRequestFailure failure) = 0;
  // "ACCOUNT_ASSOCIATE" {"account_id"}.
  virtual void associateAccount(const std::string& account_id, AccountRequestSuccess success,
                                AccountRequestFailure failure) = 0;
  // "ACCOUNT_UPDATE" {"account_id", "credentials": {"access_code"}}; an empty id or code fails at
  // once with EmptyArguments.
  virtual void reauthorizeEmailAccountWithAccessCode(const std::string& account_id,
                                                     const std::string& access_code,
                                                     AccountRequestSuccess success,
                                                     AccountRequestFailure failure) = 0;
  // The same with "credentials": {"password"}.
  virtual void reauthorizeEmailAccountWithPassword(const std::string& account_id, const std::string& password,
                                                   AccountRequestSuccess success,
                                                   AccountRequestFailure failure) = 0;
  // "ACCOUNT_UPDATE" {"account_id", "name", "description"}.
  virtual void updateEmailAccount(const std::string& account_id, const std::string& name,
                                  const std::string& description, AccountRequestSuccess success,
                                  AccountRequestFailure failure) = 0;
  // "ACCOUNT_UPDATE" {"account_id", "aliases"}: the account's aliases as the account manager has
  // them, plus the new address (minus the removed one). An empty id or address fails at once with
  // EmptyArguments.
  virtual void addAliasToEmailAccount(const std::string& account_id, const std::string& address,
                                      AccountRequestSuccess success, AccountRequestFailure failure) = 0;
  virtual void removeAliasFromEmailAccount(const std::string& account_id, const std::string& address,
                                           AccountRequestSuccess success, AccountRequestFailure failure) = 0;
  // "ACCOUNT_REMOVE" {"account_id", "global_remove": 1 or 0}; `global` removes the account from
  // every device of the user. An empty id fails at once with EmptyArguments.
  virtual void remove_email_account(const std::string& account_id, bool global, AccountRequestSuccess success,
                                    AccountRequestFailure failure) = 0;

  // The replies, from the incoming dispatch: the request id, the reply's "result" and "error"
  // (borrowed; null when missing).
  virtual void handleAccountCreateResponse(const std::string& id, json_t* result, json_t* error) = 0;
  virtual void handleAccountAssociateResponse(const std::string& id, json_t* result, json_t* error) = 0;
  virtual void handleAccountUpdateResponse(const std::string& id, json_t* result, json_t* error) = 0;
  virtual void handleAccountRemoveResponse(const std::string& id, json_t* result, json_t* error) = 0;
  // The params of an "AUTH" notification (borrowed): an account authorised, deleted or to reset.
  virtual void handleAuthNotification(json_t* params) = 0;

  // Forgets which accounts the server confirmed and every recorded reset token.
  virtual void reset() = 0;
  // The server confirmed the account's authorisation since start-up (or the last reset).
  virtual bool hasReceivedAuthForAccount(const std::string& account_id) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one a request sends
// nothing and fails at once with Other, so its caller still hears back exactly once.
void account_server_client_set_instance(std::shared_ptr<AccountServerClient> client);

void account_server_client_add_email_account_with_access_code(const std::string& access_code,
                                                              EmailAccountType type,
                                                              const std::string& locale,
                                                              AccountRequestSuccess success,
                                                              AccountRequestFailure failure);
void account_server_client_add_email_account_with_password(const std::string& address,
                                                           const std::string& password, EmailAccountType type,
                                                           const std::string& locale,
                                                           AccountRequestSuccess success,
                                                           AccountRequestFailure failure);
void account_server_client_associate_account(const std::string& account_id, AccountRequestSuccess success,
                                             AccountRequestFailure failure);
void account_server_client_reauthorize_email_account_with_access_code(const std::string& account_id,
                                                                      const std::string& access_code,
                                                                      AccountRequestSuccess success,
                                                                      AccountRequestFailure failure);
void account_server_client_reauthorize_email_account_with_password(const std::string& account_id,
                                                                   const std::string& password,
                                                                   AccountRequestSuccess success,
                                                                   AccountRequestFailure failure);
void account_server_client_update_email_account(const std::string& account_id, const std::string& name,
                                                const std::string& description, AccountRequestSuccess success,
                                                AccountRequestFailure failure);
void account_server_client_add_alias_to_email_account(const std::string& account_id,
                                                      const std::string& address,
                                                      AccountRequestSuccess success,
                                                      AccountRequestFailure failure);
void account_server_client_remove_alias_from_email_account(const std::string& account_id,
                                                           const std::string& address,
                                                           AccountRequestSuccess success,
                                                           AccountRequestFailure failure);

// These do nothing (and answer false) without an instance.
void account_server_client_reset();
void account_server_client_handle_account_create_response(const std::string& id, json_t* result, json_t* error);
void account_server_client_handle_account_associate_response(const std::string& id, json_t* result,
                                                             json_t* error);
void account_server_client_handle_account_update_response(const std::string& id, json_t* result, json_t* error);
void account_server_client_handle_account_remove_response(const std::string& id, json_t* result, json_t* error);
void account_server_client_handle_auth_notification(json_t* params);
bool account_server_client_has_received_auth_for_account(const std::string& account_id);

}  // namespace libkestrun::internal
