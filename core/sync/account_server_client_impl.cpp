#include "core/sync/account_server_client_impl.h"

#include <utility>

#include "brelt/uuid.h"
#include "core/foundation/json_conversion.h"

namespace libkestrun::internal {

namespace {

using Failure = KSServerClientAccountModifyFailureType;

// A reply member that is there: the dispatch may hand a JSON null for a missing one.
bool present(const json_t* value) { return value && !json_is_null(value); }

std::string string_member(const json_t* object, const char* key) {
  const char* text = json_string_value(json_object_get(object, key));
  return text ? text : "";
}

bool has_string(const json_t* object, const char* key) {
  return json_is_string(json_object_get(object, key));
}

// The failure of a create or update error: the refusals by code, every other error Other.
Failure create_or_update_failure(const json_t* error) {
  const std::string code = string_member(error, "code");
  if (code == "A2" || code == "A3") return Failure::Refused;
  if (code == "A10") return Failure::ImapFoldersDisabled;
  return Failure::Other;
}

// Update and remove replies succeed with a result and no error.
bool succeeded(const json_t* result, const json_t* error) { return present(result) && !present(error); }

}  // namespace

AccountServerClientImpl::AccountServerClientImpl(brelt::UvThread& thread,
                                                 const std::shared_ptr<KvStore>& store,
                                                 AccountManager* accounts, UserManager* users,
                                                 SnapshotServerClient* snapshots, ServerClient* server,
                                                 std::chrono::milliseconds timeout)
    : resets_(store),
      accounts_(accounts),
      users_(users),
      snapshots_(snapshots),
      server_(server),
      transactions_(&thread, timeout) {}

void AccountServerClientImpl::addEmailAccountWithAccessCode(const std::string& access_code,
                                                            EmailAccountType type, const std::string& locale,
                                                            AccountRequestSuccess success,
                                                            AccountRequestFailure failure) {
  if (access_code.empty()) return failure(Failure::EmptyArguments);
  _addEmailAccount("", type, jsonette::Json::object{{"access_code", access_code}}, locale, std::move(success),
                   std::move(failure));
}

void AccountServerClientImpl::addEmailAccountWithPassword(const std::string& address,
                                                          const std::string& password, EmailAccountType type,
                                                          const std::string& locale,
                                                          AccountRequestSuccess success,
                                                          AccountRequestFailure failure) {
  if (address.empty() || password.empty()) return failure(Failure::EmptyArguments);
  _addEmailAccount(address, type, jsonette::Json::object{{"password", password}}, locale, std::move(success),
                   std::move(failure));
}

void AccountServerClientImpl::_addEmailAccount(const std::string& address, EmailAccountType type,
                                               const jsonette::Json& credentials, const std::string& locale,
                                               AccountRequestSuccess success, AccountRequestFailure failure) {
  jsonette::Json::object params{
      {"credentials", credentials}, {"locale", locale}, {"type", static_cast<int>(type)}};
  if (!address.empty()) params["data"] = address;
  send("ACCOUNT_CREATE", params, "", false, std::move(success), std::move(failure));
}

void AccountServerClientImpl::associateAccount(const std::string& account_id, AccountRequestSuccess success,
                                               AccountRequestFailure failure) {
  if (account_id.empty()) return failure(Failure::EmptyArguments);
  send("ACCOUNT_ASSOCIATE", jsonette::Json::object{{"account_id", account_id}}, account_id, false,
       std::move(success), std::move(failure));
}

void AccountServerClientImpl::updateEmailAccount(const std::string& account_id, const std::string& name,
                                                 const std::string& description,
                                                 AccountRequestSuccess success,
                                                 AccountRequestFailure failure) {
  if (account_id.empty()) return failure(Failure::EmptyArguments);
  send("ACCOUNT_UPDATE",
       jsonette::Json::object{{"account_id", account_id}, {"description", description}, {"name", name}},
       account_id, false, std::move(success), std::move(failure));
}

void AccountServerClientImpl::reauthorizeEmailAccountWithAccessCode(const std::string& account_id,
                                                                    const std::string& access_code,
                                                                    AccountRequestSuccess success,
                                                                    AccountRequestFailure failure) {
  if (account_id.empty() || access_code.empty()) return failure(Failure::EmptyArguments);
  _reauthorizeEmailAccount(account_id, jsonette::Json::object{{"access_code", access_code}},
                           std::move(success), std::move(failure));
}

void AccountServerClientImpl::reauthorizeEmailAccountWithPassword(const std::string& account_id,
                                                                  const std::string& password,
                                                                  AccountRequestSuccess success,
                                                                  AccountRequestFailure failure) {
  if (account_id.empty() || password.empty()) return failure(Failure::EmptyArguments);
  _reauthorizeEmailAccount(account_id, jsonette::Json::object{{"password", password}}, std::move(success),
                           std::move(failure));
}

void AccountServerClientImpl::_reauthorizeEmailAccount(const std::string& account_id,
                                                       const jsonette::Json& credentials,
                                                       AccountRequestSuccess success,
                                                       AccountRequestFailure failure) {
  send("ACCOUNT_UPDATE", jsonette::Json::object{{"account_id", account_id}, {"credentials", credentials}},
       account_id, true, std::move(success), std::move(failure));
}

void AccountServerClientImpl::addAliasToEmailAccount(const std::string& account_id,
                                                     const std::string& address,
                                                     AccountRequestSuccess success,
                                                     AccountRequestFailure failure) {
  if (account_id.empty() || address.empty()) return failure(Failure::EmptyArguments);
  json_t* aliases = accounts_->aliasesJsonForAccount(account_id);
  json_array_append_new(aliases, accounts_->aliasJson(address));
  sendAliases(account_id, aliases, std::move(success), std::move(failure));
}

void AccountServerClientImpl::removeAliasFromEmailAccount(const std::string& account_id,
                                                          const std::string& address,
                                                          AccountRequestSuccess success,
                                                          AccountRequestFailure failure) {
  if (account_id.empty() || address.empty()) return failure(Failure::EmptyArguments);
  json_t* aliases = accounts_->aliasesJsonForAccount(account_id);
  // Only the first equal entry goes; the comparison is byte for byte, so case counts.
  for (size_t i = 0; i < json_array_size(aliases); ++i) {
    const json_t* alias = json_array_get(aliases, i);
    if (json_is_object(alias) && has_string(alias, "address") && string_member(alias, "address") == address) {
      json_array_remove(aliases, i);
      break;
    }
  }
  sendAliases(account_id, aliases, std::move(success), std::move(failure));
}

void AccountServerClientImpl::sendAliases(const std::string& account_id, json_t* aliases,
                                          AccountRequestSuccess success, AccountRequestFailure failure) {
  patch::JanssonPtr owned(aliases);
  send("ACCOUNT_UPDATE",
       jsonette::Json::object{{"account_id", account_id}, {"aliases", patch::json_from_jansson(aliases)}},
       account_id, false, std::move(success), std::move(failure));
}

void AccountServerClientImpl::remove_email_account(const std::string& account_id, bool global,
                                                   AccountRequestSuccess success,
                                                   AccountRequestFailure failure) {
  if (account_id.empty()) return failure(Failure::EmptyArguments);
  // An integer, not a boolean: the server reads 1 as "from every device".
  send("ACCOUNT_REMOVE",
       jsonette::Json::object{{"account_id", account_id}, {"global_remove", global ? 1 : 0}}, account_id,
       false, std::move(success), std::move(failure));
}

void AccountServerClientImpl::send(const std::string& method, const jsonette::Json& params,
                                   const std::string& account_id, bool reauth, AccountRequestSuccess success,
                                   AccountRequestFailure failure) {
  const std::string id = brelt::generate_uuid_lower();
  // Started before sending, so that even an immediate reply finds it.
  transactions_.startTransaction(id, account_id, reauth, std::move(success), std::move(failure), [this, id] {
    const std::string request = id;  // ending the record destroys this closure
    transactions_.transactionFailed(request, Failure::Timeout);
  });
  server_->send(method, params, id, true);
}

void AccountServerClientImpl::handleAccountCreateResponse(const std::string& id, json_t* result,
                                                          json_t* error) {
  if (present(result)) {
    const json_t* new_account = json_object_get(result, "new_account");
    if (!has_string(result, "account_id") || !json_is_boolean(new_account)) {
      transactions_.transactionFailed(id, Failure::Other);
      return;
    }
    const std::string account_id = string_member(result, "account_id");
    const std::string token = string_member(result, "client_reset");
    const bool is_new = json_is_true(new_account);
    // A reply after the time-out changes nothing: the caller was told the account was not added.
    if (!transactions_.transactionSucceeded(id, result)) return;
    authReceivedAccounts_.insert(account_id);
    resets_.recordResetToken(account_id, token);
    snapshots_->requestInitialSnapshot(account_id, is_new);
    return;
  }
  transactions_.transactionFailed(id, present(error) ? create_or_update_failure(error) : Failure::Other);
}

void AccountServerClientImpl::handleAccountAssociateResponse(const std::string& id, json_t* result,
                                                             json_t* error) {
  if (present(result)) {
    if (!has_string(result, "account_id")) {
      transactions_.transactionFailed(id, Failure::Other);
      return;
    }
    // The server has associated the account, so this runs also when the caller timed out.
    const std::string account_id = string_member(result, "account_id");
    const std::string token = string_member(result, "client_reset");
    authReceivedAccounts_.insert(account_id);
    transactions_.transactionSucceeded(id, result);
    resets_.recordResetToken(account_id, token);
    snapshots_->requestInitialSnapshot(account_id, false);
    return;
  }
  if (present(error) && string_member(error, "code") == "A1") {
    // The user no longer has the account: this device's association goes first.
    const std::string account_id = transactions_.idForTransaction(id);
    if (!account_id.empty()) users_->removeEmailAccountAssociation(account_id);
    transactions_.transactionFailed(id, Failure::NoSuchAccount);
    return;
  }
  transactions_.transactionFailed(id, Failure::Other);
}

void AccountServerClientImpl::handleAccountUpdateResponse(const std::string& id, json_t* result,
                                                          json_t* error) {
  if (!succeeded(result, error)) {
    // Also an error without a code, or a reply with neither member: the caller hears at once.
    transactions_.transactionFailed(id, create_or_update_failure(error));
    return;
  }
  if (!has_string(result, "account_id")) {
    transactions_.transactionFailed(id, Failure::Other);
    return;
  }
  authReceivedAccounts_.insert(string_member(result, "account_id"));
  const bool reauth = transactions_.transactionIsReauth(id);
  transactions_.transactionSucceeded(id, result);
  // New credentials may bring mail the device missed; after the caller has heard.
  if (reauth) snapshots_->requestAllSnapshots();
}

void AccountServerClientImpl::handleAccountRemoveResponse(const std::string& id, json_t* result,
                                                          json_t* error) {
  if (!succeeded(result, error) || !has_string(result, "account_id")) {
    transactions_.transactionFailed(id, Failure::Other);
    return;
  }
  authReceivedAccounts_.erase(string_member(result, "account_id"));
  transactions_.transactionSucceeded(id, result);
}

void AccountServerClientImpl::handleAuthNotification(json_t* params) {
  if (!has_string(params, "account_id")) return;
  const std::string account_id = string_member(params, "account_id");
  if (json_is_true(json_object_get(params, "_deleted"))) {
    for (const DeletedListener& listener : accountDeletedListeners) listener(account_id);
    snapshots_->markSnapshotFailed(account_id);
    return;
  }
  if (has_string(params, "client_reset")) {
    const std::string token = string_member(params, "client_reset");
    if (resets_.needsReset(account_id, token)) {
      for (const ResetListener& listener : accountResetListeners) {
        listener(account_id, [this, account_id, token] {
          resets_.recordResetToken(account_id, token);
          snapshots_->request_all_snapshots_safe();
        });
      }
      return;
    }
  }
  authReceivedAccounts_.insert(account_id);
  accounts_->handleAccountAuthorized(account_id, string_member(params, "name"),
                                     string_member(params, "description"),
                                     json_object_get(params, "aliases"));
}

void AccountServerClientImpl::reset() {
  authReceivedAccounts_.clear();
  resets_.clear();
}

bool AccountServerClientImpl::hasReceivedAuthForAccount(const std::string& account_id) {
  return authReceivedAccounts_.count(account_id) != 0;
}

}  // namespace libkestrun::internal
