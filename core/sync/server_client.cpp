#include "core/sync/server_client.h"

#include "core/foundation/json_conversion.h"
#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<ServerClient> instance;
}  // namespace

void server_client_set_instance(std::shared_ptr<ServerClient> client) { instance.set(std::move(client)); }

void server_client_connect() { instance.call(&ServerClient::connect); }

void server_client_connect_and_sync() { instance.call(&ServerClient::connect_and_sync); }

bool server_client_schedule_disconnect(unsigned ms) {
  return instance.call(&ServerClient::schedule_disconnect, ms);
}

void server_client_disconnect() { instance.call(&ServerClient::disconnect); }

bool server_client_is_connected() { return instance.call(&ServerClient::is_connected); }

bool server_client_is_connected_or_connecting() {
  return instance.call(&ServerClient::is_connected_or_connecting);
}

void server_client_mark_account_as_streamable(const std::string& account_id) {
  instance.call(&ServerClient::markAccountAsStreamable, account_id);
}

void server_client_stop_trouble_timer() { instance.call(&ServerClient::stop_trouble_timer); }

void server_client_write_message(const jsonette::Json& message) {
  instance.call(&ServerClient::write_message, message);
}

void server_client_send(const std::string& method, const jsonette::Json& params, const std::string& id,
                        bool write_now) {
  instance.call(&ServerClient::send, method, params, id, write_now);
}

void server_client_send(const std::string& method, json_t* params, const std::string& id, bool write_now) {
  instance.call(&ServerClient::send, method, patch::json_from_jansson(params), id, write_now);
}

void server_client_send_document(const std::string& method, const jsonette::Json& doc,
                                 const jsonette::Json& extra, bool write_now) {
  instance.call(&ServerClient::send_document, method, doc, extra, write_now);
}

void server_client_send_document(const std::string& method, json_t* doc, json_t* extra, bool write_now) {
  instance.call(&ServerClient::send_document, method, patch::json_from_jansson(doc),
                patch::json_from_jansson(extra), write_now);
}

void server_client_send_command(std::unique_ptr<ServerCommand> command) {
  instance.call(&ServerClient::send_command, std::move(command));
}

void server_client_send_json(json_t* message) {
  jsonette::Json converted = patch::json_from_jansson(message);
  json_decref(message);
  instance.call(&ServerClient::send_json, converted);
}

void server_client_prime_search(const std::string& accountID) {
  instance.call(&ServerClient::prime_search, accountID);
}

void server_client_search_query(const std::string& accountID, const std::string& folder, const std::string& searchID,
                                const std::string& text, int numAccounts) {
  instance.call(&ServerClient::search_query, accountID, folder, searchID, text, numAccounts);
}

void server_client_search_fetch(const std::string& accountID, const std::string& searchID,
                                const std::string& threadID, const std::string& syncData) {
  instance.call(&ServerClient::search_fetch, accountID, searchID, threadID, syncData);
}

}  // namespace libkestrun::internal
