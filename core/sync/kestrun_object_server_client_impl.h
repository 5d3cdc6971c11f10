// The object client: turns each local change of an item, an e-mail or a list into one server
// method call. It builds only the params; the envelope, the request id, the outgoing queue and the
// write belong to the server client's send and send_document. No reply is handled here: tracked
// requests are acknowledged by the queue, and the server's answer to a change comes back as a
// pushed document.
//
// Guards on empty required arguments fail silently: nothing is sent, nothing is logged.
//
// Threads: the core thread only (the data writer's tasks). No state beyond the two pointers set at
// construction, which must outlive the client.
#pragma once

#include "core/foundation/pref_manager.h"
#include "core/sync/kestrun_object_server_client.h"
#include "core/sync/server_client.h"

namespace libkestrun::internal {

class KestrunObjectServerClientImpl : public KestrunObjectServerClient {
 public:
  // `prefs` gives the time-zone offset sent with every e-mail save.
  KestrunObjectServerClientImpl(ServerClient* server_client, PrefManager* prefs);

  void saveItem(json_t* doc, bool write) override;
  void updateItem(json_t* changes, json_t* extra, bool write) override;
  void archiveAll(const std::string& account_id, int64_t from_date, ArchiveAllType type) override;
  void purgeAllTrash(const std::string& account_id, int64_t from_date) override;
  void saveEmail(json_t* doc, EmailSendType type, const std::optional<std::string>& ref_email,
                 const std::optional<std::string>& ref_sync_data, bool full_body, bool write) override;
  void updateEmail(json_t* changes, bool write) override;
  void flagEmail(const std::string& email_id, const std::string& account_id,
                 const std::string& reason) override;
  void saveList(json_t* doc, bool write) override;
  void updateList(const std::string& list_id, const std::string& prev_name, const std::string& name,
                  const std::string& account_id, bool write) override;
  void deleteList(const std::string& list_id, const std::string& name, const std::string& account_id,
                  bool write) override;

 private:
  // A request without a document: written at once under a new lower-case id.
  void sendNow(const std::string& method, jsonette::Json::object params);

  ServerClient* const server_client_;
  PrefManager* const prefs_;
};

}  // namespace libkestrun::internal
