// The server program killed without warning right after acknowledging a change, then started
// again on the same state directory.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "server_fixture.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

// The program as a child process; the first line it prints gives its port.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& state) {
    int out[2];
    if (pipe(out) != 0) return;
    const std::vector<unsigned char> key_bytes = test_key();
    const std::string key(key_bytes.begin(), key_bytes.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl(SYNC_SERVER_PROGRAM, SYNC_SERVER_PROGRAM, "--state", state.c_str(), "--key", key.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::string prefix = "sync server listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
  }
  ~ServerProcess() { kill9(); }

  uint16_t port() const { return port_; }
  void kill9() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(ServerTest, AcknowledgedChangeSurvivesAKillAndTokensKeepGrowing) {
  const std::string state_dir = dir_.file("state");
  const std::string item = "item-acct-example-com-007";
  Json state;
  Json first;
  Json tokens;
  int64_t acknowledged_at = 0;
  {
    ServerProcess server(state_dir);
    ASSERT_NE(server.port(), 0);
    trust_authority(read_file(state_dir + "/authority.pem"));
    SyncClient client(server.port());
    ASSERT_TRUE(client.wait_connected());
    state = register_device(client);
    client.authenticate(state);
    ASSERT_TRUE(add_account(client, "maya.lind@example.com", "sample-com-password").is_object());
    first = snapshot(client, "acct-example-com");
    tokens = first["sync_state"];
    ASSERT_TRUE(tokens.is_object());
    Json reply = client.request(
        "ITEM_UPDATE", Params{{"doc", Params{{"_id", item}, {"acct_id", "acct-example-com"}, {"state", 4}}}});
    ASSERT_TRUE(reply["error"].is_null()) << reply.dump();
    acknowledged_at = reply["result"]["saved_at"].int64_value();
    server.kill9();
  }

  ServerProcess server(state_dir);
  ASSERT_NE(server.port(), 0);
  SyncClient client(server.port());
  ASSERT_TRUE(client.wait_connected()) << "the authority made at the first start is kept";
  client.authenticate(state);
  // As the client asks: 30 below each token, the objects it holds from after that excluded.
  Params since;
  for (const char* kind : {"item", "email", "list"}) {
    Params exclude;
    for (const Json& doc : first["docs"][kind].array_items())
      if (doc["saved_at"].int64_value() > tokens[kind].int64_value() - 30)
        exclude[doc["_id"].string_value()] = doc["saved_at"];
    since[kind] = Params{{"since", tokens[kind].number_value() - 30}, {"exclude_ids", exclude}};
  }
  Json snap = snapshot(client, "acct-example-com", since);
  ASSERT_EQ(snap["docs"]["item"].array_items().size(), 1u) << snap.dump();
  EXPECT_EQ(snap["docs"]["item"][0]["_id"], Json(item));
  EXPECT_EQ(snap["docs"]["item"][0]["state"], Json(4));
  EXPECT_EQ(snap["sync_state"]["item"].int64_value(), acknowledged_at);
  EXPECT_GT(acknowledged_at, tokens["item"].int64_value());

  Json later = client.request(
      "ITEM_UPDATE", Params{{"doc", Params{{"_id", item}, {"acct_id", "acct-example-com"}, {"state", 3}}}});
  EXPECT_GT(later["result"]["saved_at"].int64_value(), acknowledged_at);
}

}  // namespace
}  // namespace sync_server_test
