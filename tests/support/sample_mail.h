// The local sync server's mail as a device sees it, for tests of full bodies, attachments and
// sending: the e-mails of one account in its snapshot, a newly delivered conversation, and a
// sample e-mail with an attachment. `client` is a connection authenticated as a device that holds
// the account.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "jsonette/json.h"
#include "tests/tools/sync_server/sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_test {

// The account's e-mail documents as the server's snapshot gives them.
inline std::vector<jsonette::Json> server_emails(sync_server_test::SyncClient& client,
                                                 const std::string& account_id) {
  using jsonette::Json;
  return client
      .request("ACCOUNT_SNAPSHOT", Json::object{{"account_id", account_id},
                                                {"sync_state", Json::object{}}})["result"]["docs"]["email"]
      .array_items();
}

// Delivers `mail` as a new conversation and returns its e-mail document (null when it is not
// found, which fails the test).
inline jsonette::Json deliver(sync_server::SyncServer& server, sync_server_test::SyncClient& client,
                              const sync_server::NewMail& mail) {
  server.deliver_mail(mail);
  for (const jsonette::Json& email : server_emails(client, mail.account_id))
    if (email["subject"].string_value() == mail.subject) return email;
  ADD_FAILURE() << "no e-mail " << mail.subject;
  return jsonette::Json();
}

// The first of the account's e-mails with an attachment: (e-mail id, attachment id, size).
inline std::tuple<std::string, std::string, size_t> sample_attachment(sync_server_test::SyncClient& client,
                                                                      const std::string& account_id) {
  for (const jsonette::Json& email : server_emails(client, account_id)) {
    const std::string& html = email["conversation"].string_value();
    size_t at = html.find("<kestrun-attach data-id=\"");
    if (at == std::string::npos) continue;
    at += 25;
    std::string id = html.substr(at, html.find('"', at) - at);
    at = html.find("data-size=\"", at) + 11;
    return {email["_id"].string_value(), id, std::stoul(html.substr(at, html.find('"', at) - at))};
  }
  ADD_FAILURE() << "no sample attachment";
  return {};
}

}  // namespace kestrun_test
