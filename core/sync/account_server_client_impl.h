// The account requests of the sync connection: adding, associating, re-authorising, renaming and
// removing a mail account and changing its aliases, each tracked as a transaction under a fresh
// lower-case id that its reply or its time-out ends through exactly one callback; and the "AUTH"
// notification, through which the server says an account is authorised, deleted or must be reset.
//
// Reset tokens: every authorisation carries the account's "client_reset" token. A token that
// differs from the one this device last accepted (AccountResetManager) hands the account to the
// reset listeners instead of the account manager; the token is recorded only when the listener
// calls the completion, after the account's local data was reset.
//
// The server client builds the one instance during its set-up and keeps it for the process.
// Everything runs on the core thread; the listener lists and the set of confirmed accounts have no
// lock (the listeners are added while the core is built). No callback runs under a lock.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_set>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/foundation/kv_store.h"
#include "core/sync/account_reset_manager.h"
#include "core/sync/account_server_client.h"
#include "core/sync/server_client.h"
#include "core/sync/snapshot_server_client.h"
#include "core/sync/transaction_manager.h"

namespace libkestrun::internal {

class AccountServerClientImpl final : public AccountServerClient {
 public:
  using DeletedListener = std::function<void(const std::string& account_id)>;
  // Resets the account's local data, then calls the completion once.
  using ResetListener = std::function<void(const std::string& account_id, std::function<void()> done)>;

  // None of the pointers is owned; each outlives the client.
  AccountServerClientImpl(brelt::UvThread& thread, const std::shared_ptr<KvStore>& store,
                          AccountManager* accounts, UserManager* users, SnapshotServerClient* snapshots,
                          ServerClient* server, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  AccountServerClientImpl(const AccountServerClientImpl&) = delete;
  AccountServerClientImpl& operator=(const AccountServerClientImpl&) = delete;

  void addEmailAccountWithAccessCode(const std::string& access_code, EmailAccountType type,
                                     const std::string& locale, AccountRequestSuccess success,
                                     AccountRequestFailure failure) override;
  void addEmailAccountWithPassword(const std::string& address, const std::string& password,
                                   EmailAccountType type, const std::string& locale,
                                   AccountRequestSuccess success, AccountRequestFailure failure) override;
  void associateAccount(const std::string& account_id, AccountRequestSuccess success,
                        AccountRequestFailure failure) override;
  void reauthorizeEmailAccountWithAccessCode(const std::string& account_id, const std::string& access_code,
                                             AccountRequestSuccess success,
                                             AccountRequestFailure failure) override;
  void reauthorizeEmailAccountWithPassword(const std::string& account_id, const std::string& password,
                                           AccountRequestSuccess success,
                                           AccountRequestFailure failure) override;
  void updateEmailAccount(const std::string& account_id, const std::string& name,
                          const std::string& description, AccountRequestSuccess success,
                          AccountRequestFailure failure) override;
  void addAliasToEmailAccount(const std::string& account_id, const std::string& address,
                              AccountRequestSuccess success, AccountRequestFailure failure) override;
  void removeAliasFromEmailAccount(const std::string& account_id, const std::string& address,
                                   AccountRequestSuccess success, AccountRequestFailure failure) override;
  void remove_email_account(const std::string& account_id, bool global, AccountRequestSuccess success,
                            AccountRequestFailure failure) override;

  void handleAccountCreateResponse(const std::string& id, json_t* result, json_t* error) override;
  void handleAccountAssociateResponse(const std::string& id, json_t* result, json_t* error) override;
  void handleAccountUpdateResponse(const std::string& id, json_t* result, json_t* error) override;
  void handleAccountRemoveResponse(const std::string& id, json_t* result, json_t* error) override;
  void handleAuthNotification(json_t* params) override;

  void reset() override;
  bool hasReceivedAuthForAccount(const std::string& account_id) override;

  // Called with an account the server reports deleted; the server client relays it.
  std::list<DeletedListener> accountDeletedListeners;
  // Called with an account whose reset token changed; the controller resets its data.
  std::list<ResetListener> accountResetListeners;

 private:
  using Transactions = TransactionManager<AccountRequestSuccess, AccountRequestFailure>;

  void _addEmailAccount(const std::string& address, EmailAccountType type, const jsonette::Json& credentials,
                        const std::string& locale, AccountRequestSuccess success,
                        AccountRequestFailure failure);
  void _reauthorizeEmailAccount(const std::string& account_id, const jsonette::Json& credentials,
                                AccountRequestSuccess success, AccountRequestFailure failure);
  void sendAliases(const std::string& account_id, json_t* aliases, AccountRequestSuccess success,
                   AccountRequestFailure failure);
  void send(const std::string& method, const jsonette::Json& params, const std::string& account_id,
            bool reauth, AccountRequestSuccess success, AccountRequestFailure failure);

  AccountResetManager resets_;
  AccountManager* accounts_;
  UserManager* users_;
  SnapshotServerClient* snapshots_;
  ServerClient* server_;
  std::unordered_set<std::string> authReceivedAccounts_;
  Transactions transactions_;
};

}  // namespace libkestrun::internal
