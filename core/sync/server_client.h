// The owner of the sync connection, as the data model and the managers see it. The full client
// (connection set-up, incoming dispatch, sub-clients) implements this interface; the rest of the
// core reaches it through the process-wide instance and the forwarders below.
#pragma once

#include <memory>
#include <string>

#include <jansson.h>

#include "core/sync/server_command.h"

namespace libkestrun::internal {

class ServerClient {
 public:
  virtual ~ServerClient() = default;

  // True while the sync connection is up. Any thread.
  virtual bool is_connected() = 0;
  // Takes the command, gives it a new message id and sends it; a persistent command is also kept
  // in the offline store under its object id, replacing the stored commands it supersedes. Never
  // fails at the call. Core thread.
  virtual void send_command(std::unique_ptr<ServerCommand> command) = 0;
  // Writes `message` (a message object, or an array of them sent as one message) as it is: the
  // outgoing queue resends requests that already carry their ids. Core thread.
  virtual void send_json(const jsonette::Json& message) = 0;
  // Builds the request {"method", "params", "id"}, hands a copy to the outgoing queue (which keeps
  // the methods it tracks until an error-free reply acknowledges them) and writes it when
  // `write_now` is true. Never fails at the call. Core thread.
  virtual void send(const std::string& method, const jsonette::Json& params, const std::string& id,
                    bool write_now) = 0;

  // Cloud search requests, each under a new lower-case request id. Core thread.
  // SEARCH_PRIME {"account_id"}, unless the account id is empty.
  virtual void prime_search(const std::string& accountID) = 0;
  // SEARCH_QUERY {"account_id", "search_id", "query", "client_metadata": {"num_accounts",
  // "network_state"}, "folder" (only when not empty)}, unless the text, the account id or the
  // search id is empty. The reply reaches the data center, which ends the query in the search
  // data manager.
  virtual void search_query(const std::string& accountID, const std::string& folder,
                            const std::string& searchID, const std::string& text, int numAccounts) = 0;
  // SEARCH_FETCH {"account_id", "search_id", "thr_id", "sync_data"} ("sync_data" parsed from its
  // text, left out for "-"), unless one of the first three is empty.
  virtual void search_fetch(const std::string& accountID, const std::string& searchID,
                            const std::string& threadID, const std::string& syncData) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one, the forwarders
// answer false and drop the command.
void server_client_set_instance(std::shared_ptr<ServerClient> client);

bool server_client_is_connected();
void server_client_send_command(std::unique_ptr<ServerCommand> command);
// Converts `message` and releases the caller's reference to it (also without an instance).
void server_client_send_json(json_t* message);
void server_client_send(const std::string& method, const jsonette::Json& params, const std::string& id,
                        bool write_now);
// Converts `params`; the caller keeps its reference.
void server_client_send(const std::string& method, json_t* params, const std::string& id, bool write_now);
void server_client_prime_search(const std::string& accountID);
void server_client_search_query(const std::string& accountID, const std::string& folder,
                                const std::string& searchID, const std::string& text, int numAccounts);
void server_client_search_fetch(const std::string& accountID, const std::string& searchID,
                                const std::string& threadID, const std::string& syncData);

}  // namespace libkestrun::internal
