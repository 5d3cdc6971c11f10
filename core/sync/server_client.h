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

  // Opens the connection at once (cancelling a pending back-off and an idle close) and reports
  // "started connecting" when it is on its way. Core thread.
  virtual void connect() = 0;
  // Connects when not connected; otherwise keeps the connection and, for a registered device,
  // asks for every snapshot again. Core thread.
  virtual void connect_and_sync() = 0;
  // Closes the connection after `ms` unless an idle close is already pending; true when it was.
  virtual bool schedule_disconnect(unsigned ms) = 0;
  // Ends the connection; it stays closed until the next connect or write. Core thread.
  virtual void disconnect() = 0;
  // True while the sync connection is up (or on its way). Any thread; the answer may be stale.
  virtual bool is_connected() = 0;
  virtual bool is_connected_or_connecting() = 0;
  // The account's snapshot is in: its held documents are applied, later ones at once. Any thread.
  virtual void markAccountAsStreamable(const std::string& account_id) = 0;
  // Every requested snapshot has completed: no "having trouble" report is due. Core thread.
  virtual void stop_trouble_timer() = 0;

  // Writes `message` to the connection, opening it when it is closed. Core thread.
  virtual void write_message(const jsonette::Json& message) = 0;
  // Sends {"method", "params", "id"}: the outgoing queue keeps a copy when it tracks the method,
  // and the message is written now only when `write_now` is true. Core thread.
  virtual void send(const std::string& method, const jsonette::Json& params, const std::string& id,
                    bool write_now) = 0;
  // Sends {"doc": doc} plus every member of `extra` (an object, or null for none) under a new
  // lower-case id. A document of an account whose snapshot is not in yet is only queued. Core
  // thread.
  virtual void send_document(const std::string& method, const jsonette::Json& doc, const jsonette::Json& extra,
                             bool write_now) = 0;
  // Takes the command, gives it a new message id and sends it; a persistent command is also kept
  // in the offline store under its object id, replacing the stored commands it supersedes. Never
  // fails at the call. Core thread.
  virtual void send_command(std::unique_ptr<ServerCommand> command) = 0;
  // Writes `message` (a message object, or an array of them sent as one message) as it is: the
  // outgoing queue resends requests that already carry their ids. Core thread.
  virtual void send_json(const jsonette::Json& message) = 0;

  // Cloud search requests, each under a new lower-case request id. Core thread.
  // SEARCH_PRIME {"account_id"}, unless the account id is empty.
  virtual void prime_search(const std::string& accountID) = 0;
  // SEARCH_QUERY {"account_id", "search_id", "query", "client_metadata": {"num_accounts",
  // "network_state"}, "folder" (only when not empty)}, unless the text, the account id or the
  // search id is empty. The reply reaches the data center, which ends the query in the search
  // data manager.
  virtual void search_query(const std::string& accountID, const std::string& folder, const std::string& searchID,
                            const std::string& text, int numAccounts) = 0;
  // SEARCH_FETCH {"account_id", "search_id", "thr_id", "sync_data"} ("sync_data" parsed from its
  // text, left out for "-"), unless one of the first three is empty.
  virtual void search_fetch(const std::string& accountID, const std::string& searchID, const std::string& threadID,
                            const std::string& syncData) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one, the forwarders
// answer false and drop the command.
void server_client_set_instance(std::shared_ptr<ServerClient> client);

void server_client_connect();
void server_client_connect_and_sync();
bool server_client_schedule_disconnect(unsigned ms);
void server_client_disconnect();
bool server_client_is_connected();
bool server_client_is_connected_or_connecting();
void server_client_mark_account_as_streamable(const std::string& account_id);
void server_client_stop_trouble_timer();
void server_client_write_message(const jsonette::Json& message);
void server_client_send(const std::string& method, const jsonette::Json& params, const std::string& id,
                        bool write_now);
// Converts `params` (borrowed; null reads as JSON null) and sends as above.
void server_client_send(const std::string& method, json_t* params, const std::string& id, bool write_now);
void server_client_send_document(const std::string& method, const jsonette::Json& doc,
                                 const jsonette::Json& extra, bool write_now);
// Converts `doc` and `extra` (borrowed; null reads as JSON null) and sends as above.
void server_client_send_document(const std::string& method, json_t* doc, json_t* extra, bool write_now);
void server_client_send_command(std::unique_ptr<ServerCommand> command);
// Converts `message` and releases the caller's reference to it (also without an instance).
void server_client_send_json(json_t* message);
void server_client_prime_search(const std::string& accountID);
void server_client_search_query(const std::string& accountID, const std::string& folder, const std::string& searchID,
                                const std::string& text, int numAccounts);
void server_client_search_fetch(const std::string& accountID, const std::string& searchID,
                                const std::string& threadID, const std::string& syncData);

}  // namespace libkestrun::internal
