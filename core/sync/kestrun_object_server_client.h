// The object client, as the data model and the data writer see it: one server call per local change
// of an item, an e-mail or a list. The full client builds the params and sends through the server
// client's outgoing queue; it implements this interface. Documents are jansson values that the
// caller keeps and releases after the call. Core thread.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/store/model_enums.h"

namespace libkestrun {

// The selection of an archive-all. Other values select nothing, and no request is sent for them.
enum class ArchiveAllType : int32_t {
  AllInbox = 1,
  Read = 2,
  Unstarred = 3,
};

}  // namespace libkestrun

namespace libkestrun::internal {

class KestrunObjectServerClient {
 public:
  virtual ~KestrunObjectServerClient() = default;

  // "ITEM_SAVE" {"doc"}; `write` false only queues it.
  virtual void saveItem(json_t* doc, bool write) = 0;
  // "ITEM_UPDATE" {"doc": changes without "created_at" and "type"} plus every member of `extra`
  // (which may be null).
  virtual void updateItem(json_t* changes, json_t* extra, bool write) = 0;
  // "ARCHIVE_ALL", written at once; nothing unless from_date > 0, the account id is not empty and
  // the type is one of the three selections.
  virtual void archiveAll(const std::string& account_id, int64_t from_date, ArchiveAllType type) = 0;
  // "PURGE_ALL_TRASH", written at once; nothing unless from_date > 0 and the account id is not empty.
  virtual void purgeAllTrash(const std::string& account_id, int64_t from_date) = 0;
  // "EMAIL_SAVE" {"doc", "type", "full_body", "tz"} plus "ref_email" and "ref_sync_data" when given.
  virtual void saveEmail(json_t* doc, EmailSendType type, const std::optional<std::string>& ref_email,
                         const std::optional<std::string>& ref_sync_data, bool full_body, bool write) = 0;
  // "EMAIL_UPDATE" with only the keys "_id", "acct_id", "p_id", "read", "starred", "sync_data".
  virtual void updateEmail(json_t* changes, bool write) = 0;
  // "EMAIL_FLAG", written at once; nothing when the e-mail or account id is empty.
  virtual void flagEmail(const std::string& email_id, const std::string& account_id,
                         const std::string& reason) = 0;
  // "LIST_SAVE" {"doc"}.
  virtual void saveList(json_t* doc, bool write) = 0;
  // "LIST_UPDATE"; nothing when any of the four strings is empty.
  virtual void updateList(const std::string& list_id, const std::string& prev_name, const std::string& name,
                          const std::string& account_id, bool write) = 0;
  // "LIST_DELETE"; nothing when any of the three strings is empty.
  virtual void deleteList(const std::string& list_id, const std::string& name, const std::string& account_id,
                          bool write) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one every forwarder
// does nothing.
void kestrun_object_server_client_set_instance(std::shared_ptr<KestrunObjectServerClient> client);

void kestrun_object_server_client_save_item(json_t* doc, bool send_now);
void kestrun_object_server_client_update_item(json_t* changes, json_t* extra, bool send_now);
// The two requests without a document are always written at once; `send_now` has no effect.
void kestrun_object_server_client_archive_all(const std::string& account_id, int64_t from_date,
                                              ArchiveAllType type, bool send_now);
void kestrun_object_server_client_purge_all_trash(const std::string& account_id, int64_t from_date,
                                                  bool send_now);
void kestrun_object_server_client_save_email(json_t* doc, EmailSendType type,
                                             std::optional<std::string> ref_email,
                                             std::optional<std::string> ref_sync_data, bool full_body,
                                             bool send_now);
void kestrun_object_server_client_update_email(json_t* changes, bool send_now);
void kestrun_object_server_client_flag_email(const std::string& email_id, const std::string& account_id,
                                             const std::string& reason);
void kestrun_object_server_client_save_list(json_t* doc, bool send_now);
void kestrun_object_server_client_update_list(const std::string& list_id, const std::string& prev_name,
                                              const std::string& name, const std::string& account_id,
                                              bool send_now);
void kestrun_object_server_client_delete_list(const std::string& list_id, const std::string& name,
                                              const std::string& account_id, bool send_now);

}  // namespace libkestrun::internal
