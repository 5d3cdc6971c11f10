// Control: pushing any notification, delivering new mail and making requests fail or go
// unanswered, through the library and through the program's control socket.
#include "tools/sync_server/control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "server_fixture.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

// One line sent to the control socket, one line back.
std::string ask(const std::string& path, const std::string& line) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    std::string out = line + "\n";
    if (send(fd, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size())) {
      char c;
      while (recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
    }
  }
  close(fd);
  return answer;
}

Json parse(const std::string& text) {
  std::string error;
  return Json::parse(text, error);
}

TEST_F(ServerTest, ControlSocketPushesDeliversFailsAndDrops) {
  start();
  const std::string path = dir_.file("control.sock");
  sync_server::ControlSocket control(*server_, path);
  Json state;
  auto client = signed_in(&state);
  ASSERT_TRUE(add_account(*client, "maya.lind@example.com", "sample-com-password").is_object());

  Json address = parse(ask(path, R"({"op":"address"})"));
  EXPECT_EQ(address["port"], Json(static_cast<int>(server_->port())));

  Json delivered = parse(
      ask(path, R"({"op":"deliver","account_id":"acct-example-com","from_name":"Ola",)"
                R"("from_address":"ola@nowhere.example","subject":"Hi","html":"<p>Hi <b>you</b></p>"})"));
  ASSERT_EQ(delivered["ok"], Json(true)) << delivered.dump();
  const Json item_id = delivered["item_id"];
  Json email =
      client->wait_for_notification("DOCUMENT", [&](const Json& p) { return p["doc"]["p_id"] == item_id; });
  EXPECT_EQ(email["params"]["doc_type"], Json("email"));
  EXPECT_EQ(email["params"]["doc"]["preview"], Json("Hi you"));
  EXPECT_TRUE(
      client->wait_for_notification("DOCUMENT", [&](const Json& p) { return p["doc"]["_id"] == item_id; })
          .is_object());

  const std::string user = state["user_id"].string_value();
  Json notified = parse(ask(path, R"({"op":"notify","user_id":")" + user +
                                      R"(","method":"GENERIC_STATUS","params":{"status":"maintenance"}})"));
  EXPECT_EQ(notified["ok"], Json(true));
  EXPECT_EQ(client->wait_for_notification("GENERIC_STATUS")["params"]["status"], Json("maintenance"));

  // The next ITEM_UPDATE fails with the code asked for and is not applied; the one after works.
  ASSERT_EQ(parse(ask(path, R"({"op":"fail","method":"ITEM_UPDATE","count":1,"code":"H1"})"))["ok"],
            Json(true));
  const Json change =
      Params{{"doc", Params{{"_id", item_id}, {"acct_id", "acct-example-com"}, {"state", 3}}}};
  EXPECT_EQ(client->request("ITEM_UPDATE", change)["error"]["code"], Json("H1"));
  EXPECT_TRUE(client->request("ITEM_UPDATE", change)["error"].is_null());

  // A dropped request is neither answered nor applied; the request after it is.
  ASSERT_EQ(parse(ask(path, R"({"op":"drop","method":"PREFERENCE_UPDATE","count":1})"))["ok"], Json(true));
  const Json preferences = Params{{"preferences", Params{{"push", true}}}};
  client->send(Json(Params{{"method", "PREFERENCE_UPDATE"}, {"params", preferences}, {"id", "dropped"}}));
  Json answered = client->request("PREFERENCE_UPDATE", Params{{"preferences", Params{{"badge", 2}}}});
  EXPECT_EQ(answered["result"]["preferences"], Json(Params{{"badge", 2}}));
  for (const Json& m : client->messages()) EXPECT_NE(m["id"], Json("dropped"));

  for (const char* line :
       {R"({"op":"launch"})", "not json", R"({"op":"deliver","account_id":"nope"})",
        R"({"op":"notify","user_id":"nobody","method":"X","params":{}})", R"({"op":"fail","count":2})"}) {
    SCOPED_TRACE(line);
    Json refused = parse(ask(path, line));
    EXPECT_EQ(refused["ok"], Json(false));
    EXPECT_TRUE(refused["error"].is_string());
  }
}

}  // namespace
}  // namespace sync_server_test
