#include "core/sync/account_server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {

ProcessInstance<AccountServerClient> instance;

// The instance, or empty after failing the request: a caller waits for one of its callbacks.
std::shared_ptr<AccountServerClient> client_or_fail(const AccountRequestFailure& failure) {
  std::shared_ptr<AccountServerClient> client = instance.get();
  if (!client && failure) failure(KSServerClientAccountModifyFailureType::Other);
  return client;
}

}  // namespace

void account_server_client_set_instance(std::shared_ptr<AccountServerClient> client) {
  instance.set(std::move(client));
}

void account_server_client_add_email_account_with_access_code(const std::string& access_code,
                                                              EmailAccountType type,
                                                              const std::string& locale,
                                                              AccountRequestSuccess success,
                                                              AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->addEmailAccountWithAccessCode(access_code, type, locale, std::move(success), std::move(failure));
  }
}

void account_server_client_add_email_account_with_password(const std::string& address,
                                                           const std::string& password, EmailAccountType type,
                                                           const std::string& locale,
                                                           AccountRequestSuccess success,
                                                           AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->addEmailAccountWithPassword(address, password, type, locale, std::move(success),
                                        std::move(failure));
  }
}

void account_server_client_associate_account(const std::string& account_id, AccountRequestSuccess success,
                                             AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->associateAccount(account_id, std::move(success), std::move(failure));
  }
}

void account_server_client_reauthorize_email_account_with_access_code(const std::string& account_id,
                                                                      const std::string& access_code,
                                                                      AccountRequestSuccess success,
                                                                      AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->reauthorizeEmailAccountWithAccessCode(account_id, access_code, std::move(success),
                                                  std::move(failure));
  }
}

void account_server_client_reauthorize_email_account_with_password(const std::string& account_id,
                                                                   const std::string& password,
                                                                   AccountRequestSuccess success,
                                                                   AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->reauthorizeEmailAccountWithPassword(account_id, password, std::move(success), std::move(failure));
  }
}

void account_server_client_update_email_account(const std::string& account_id, const std::string& name,
                                                const std::string& description, AccountRequestSuccess success,
                                                AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->updateEmailAccount(account_id, name, description, std::move(success), std::move(failure));
  }
}

void account_server_client_add_alias_to_email_account(const std::string& account_id,
                                                      const std::string& address,
                                                      AccountRequestSuccess success,
                                                      AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->addAliasToEmailAccount(account_id, address, std::move(success), std::move(failure));
  }
}

void account_server_client_remove_alias_from_email_account(const std::string& account_id,
                                                           const std::string& address,
                                                           AccountRequestSuccess success,
                                                           AccountRequestFailure failure) {
  if (auto client = client_or_fail(failure)) {
    client->removeAliasFromEmailAccount(account_id, address, std::move(success), std::move(failure));
  }
}

void account_server_client_reset() { instance.call(&AccountServerClient::reset); }

void account_server_client_handle_account_create_response(const std::string& id, json_t* result, json_t* error) {
  instance.call(&AccountServerClient::handleAccountCreateResponse, id, result, error);
}

void account_server_client_handle_account_associate_response(const std::string& id, json_t* result,
                                                             json_t* error) {
  instance.call(&AccountServerClient::handleAccountAssociateResponse, id, result, error);
}

void account_server_client_handle_account_update_response(const std::string& id, json_t* result, json_t* error) {
  instance.call(&AccountServerClient::handleAccountUpdateResponse, id, result, error);
}

void account_server_client_handle_account_remove_response(const std::string& id, json_t* result, json_t* error) {
  instance.call(&AccountServerClient::handleAccountRemoveResponse, id, result, error);
}

void account_server_client_handle_auth_notification(json_t* params) {
  instance.call(&AccountServerClient::handleAuthNotification, params);
}

bool account_server_client_has_received_auth_for_account(const std::string& account_id) {
  return instance.call(&AccountServerClient::hasReceivedAuthForAccount, account_id);
}

}  // namespace libkestrun::internal
