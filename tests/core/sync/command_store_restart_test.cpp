// The client killed without warning after two concurrent saves of a draft reached the server but
// before their replies settled the command store; started again on the same store, it resends both
// under their old ids in the order they were sent, and the server applies each only once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "brelt/auto_connect_api_client.h"
#include "core/sync/server_command_client.h"
#include "sync_fixture.h"

namespace kestrun_test {
namespace {

// The sending client as a child process; reads its lines.
class SenderProcess {
 public:
  SenderProcess(const std::string& store, uint16_t port, const std::string& pem_file) {
    int out[2];
    if (pipe(out) != 0) return;
    const std::string port_text = std::to_string(port);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execl(COMMAND_SENDER_PROGRAM, COMMAND_SENDER_PROGRAM, store.c_str(), port_text.c_str(),
            pem_file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = fdopen(out[0], "r");
  }
  ~SenderProcess() {
    kill9();
    if (out_) fclose(out_);
  }

  // The next line, without its newline; empty at the end.
  std::string line() {
    std::string text;
    for (int c; out_ && (c = fgetc(out_)) != EOF && c != '\n';) text += static_cast<char>(c);
    return text;
  }
  void kill9() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

class CommandStoreRestartTest : public SyncServerTest {};

TEST_F(CommandStoreRestartTest, ResendsBothSavesInSendingOrderAndTheServerAppliesEachOnce) {
  const Json state = register_device();
  store_identity(state);
  const std::string store_dir = data_dir.file("defaultsdb");
  run([&] { manager.reset(); });
  store.reset();  // the child opens the database

  const std::string pem = server_dir.file("authority.pem");
  std::ofstream(pem) << server->authority_pem();
  std::vector<std::string> sent;
  std::map<std::string, std::string> saved_at;
  {
    SenderProcess child(store_dir, server->port(), pem);
    while (saved_at.size() < 2) {
      const std::string line = child.line();
      ASSERT_FALSE(line.empty()) << "the sender ended early";
      if (line.rfind("sent ", 0) == 0) sent.push_back(line.substr(5));
      if (line.rfind("reply ", 0) == 0) {
        const size_t space = line.find(' ', 6);
        saved_at[line.substr(6, space - 6)] = line.substr(space + 1);
      }
    }
    child.kill9();
  }
  ASSERT_EQ(sent.size(), 2u);

  // Restart over the same store: the user manager and the command client of a fresh process.
  store = std::make_shared<libkestrun::LeveldbStore>(store_dir);
  manager = std::make_shared<libkestrun::UserManagerImpl>(center, store, accounts);
  std::vector<Json> written;
  Delivered replies;
  std::unique_ptr<brelt::AutoConnectApiClient> connection;
  std::unique_ptr<libkestrun::ServerCommandClient> commands;
  run([&] {
    connection = std::make_unique<brelt::AutoConnectApiClient>(
        thread.get_loop(), std::make_unique<libkestrun::internal::AutoAuthConnectionFactory>(
                               *manager, nullptr, thread.get_loop(), client_options(server->port())));
    commands = std::make_unique<libkestrun::ServerCommandClient>(
        [&](const Json& message) {
          written.push_back(message);
          connection->write(Json(message));
        },
        store);
    replies.attach(*connection);
    auto record = connection->on_data;
    connection->on_data = [&, record](Json message) {
      commands->handleResponse(message);
      record(std::move(message));
    };
    commands->resendStoredMessages();
  });
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0]["id"], Json(sent[0]));
  EXPECT_EQ(written[1]["id"], Json(sent[1]));
  EXPECT_EQ(written[0]["params"]["version"], Json(Json::object{{"A", 2}}));
  EXPECT_EQ(written[1]["params"]["version"], Json(Json::object{{"B", 1}}));
  for (const std::string& id : sent) {
    // Answered from the reply the server stored when it applied the save: not applied again.
    const Json reply = replies.wait_for_reply(id);
    EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
    EXPECT_EQ(reply["result"]["saved_at"].dump(), saved_at[id]) << id;
  }
  // The replies settled the store.
  std::vector<std::string> left;
  run([&] {
    store->for_each_key_with_prefix("offline_messages!",
                                    [&](const std::string& key) { left.push_back(key); });
  });
  EXPECT_TRUE(left.empty()) << left.front();
  run([&] {
    commands.reset();
    connection.reset();
  });
}

}  // namespace
}  // namespace kestrun_test
