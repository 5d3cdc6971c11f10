#include "core/sync/kestrun_object_server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<KestrunObjectServerClient> instance;
}  // namespace

void kestrun_object_server_client_set_instance(std::shared_ptr<KestrunObjectServerClient> client) {
  instance.set(std::move(client));
}

void kestrun_object_server_client_save_item(json_t* doc, bool send_now) {
  instance.call(&KestrunObjectServerClient::saveItem, doc, send_now);
}

void kestrun_object_server_client_update_item(json_t* changes, json_t* extra, bool send_now) {
  instance.call(&KestrunObjectServerClient::updateItem, changes, extra, send_now);
}

void kestrun_object_server_client_archive_all(const std::string& account_id, int64_t from_date,
                                              ArchiveAllType type, bool) {
  instance.call(&KestrunObjectServerClient::archiveAll, account_id, from_date, type);
}

void kestrun_object_server_client_purge_all_trash(const std::string& account_id, int64_t from_date, bool) {
  instance.call(&KestrunObjectServerClient::purgeAllTrash, account_id, from_date);
}

void kestrun_object_server_client_save_email(json_t* doc, EmailSendType type,
                                             std::optional<std::string> ref_email,
                                             std::optional<std::string> ref_sync_data, bool full_body,
                                             bool send_now) {
  instance.call(&KestrunObjectServerClient::saveEmail, doc, type, ref_email, ref_sync_data, full_body,
                send_now);
}

void kestrun_object_server_client_update_email(json_t* changes, bool send_now) {
  instance.call(&KestrunObjectServerClient::updateEmail, changes, send_now);
}

void kestrun_object_server_client_flag_email(const std::string& email_id, const std::string& account_id,
                                             const std::string& reason) {
  instance.call(&KestrunObjectServerClient::flagEmail, email_id, account_id, reason);
}

void kestrun_object_server_client_save_list(json_t* doc, bool send_now) {
  instance.call(&KestrunObjectServerClient::saveList, doc, send_now);
}

void kestrun_object_server_client_update_list(const std::string& list_id, const std::string& prev_name,
                                              const std::string& name, const std::string& account_id,
                                              bool send_now) {
  instance.call(&KestrunObjectServerClient::updateList, list_id, prev_name, name, account_id, send_now);
}

void kestrun_object_server_client_delete_list(const std::string& list_id, const std::string& name,
                                              const std::string& account_id, bool send_now) {
  instance.call(&KestrunObjectServerClient::deleteList, list_id, name, account_id, send_now);
}

}  // namespace libkestrun::internal
