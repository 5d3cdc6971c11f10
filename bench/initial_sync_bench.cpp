// The initial sync of a generated mailbox (10k conversations of three e-mails, beside the sample
// account's own) from the local sync server over TLS on 127.0.0.1 into an empty keyed store,
// through the server client with the real managers, next to the bare work on the same reply: a
// blocking OpenSSL connection sending the same hello, authentication and account snapshot request,
// zlib inflating the server's stream, jansson parsing the reply, and raw sqlite3_* inserts of its
// items, e-mails, senders and recipient links in one transaction into a keyed database.
//
// Each pass starts from an empty database and a fresh client (made outside the timing); the time
// runs from the connection to the stored snapshot. The peak resident set of the process is
// reported after each benchmark; the bare one runs first, so ours is the peak of both. Both wait
// on other threads, so they are timed by the clock, not the CPU time.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <jansson.h>
#include <netinet/in.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "brelt/tls_filter.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/api/managers.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/defaults.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/task_manager.h"
#include "core/model/db_context.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/sync/server_client_impl.h"
#include "tools/sync_server/sync_server.h"

namespace {

using jsonette::Json;

constexpr int kConversations = 10000;
const char kAccount[] = "acct-example-com";
const char kCompleted[] = "com.kestrun.sync.intial.sync.completed";
const char kTrouble[] = "com.kestrun.sync.having.trouble.connecting";

double peak_resident_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string database_key() { return std::string(32, '\x5a'); }
std::vector<unsigned char> signing_key() {
  const std::string key = "initial-sync-bench-key";
  return {key.begin(), key.end()};
}

// A scratch directory, removed with the object.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/kestrun-initial-sync-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) abort();
    path_ = made;
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

using JsonPtr = std::unique_ptr<json_t, decltype(&json_decref)>;

// A blocking client of the sync server's wire: OpenSSL over a socket, frames signed with HMAC on
// the way out, one zlib stream of length-prefixed frames on the way in.
class BareConnection {
 public:
  BareConnection(uint16_t port, const std::string& authority_pem) {
    context_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    BIO* bio = BIO_new_mem_buf(authority_pem.data(), static_cast<int>(authority_pem.size()));
    X509* authority = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (authority == nullptr || X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), authority) != 1)
      abort();
    X509_free(authority);

    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) abort();
    ssl_ = SSL_new(context_);
    SSL_set_tlsext_host_name(ssl_, "localhost");
    SSL_set1_host(ssl_, "localhost");
    SSL_set_fd(ssl_, fd_);
    if (SSL_connect(ssl_) != 1) abort();
    if (inflateInit(&stream_) != Z_OK) abort();
    send(R"({"version":"1.0","device":"macos"})");
  }
  ~BareConnection() {
    inflateEnd(&stream_);
    SSL_free(ssl_);
    close(fd_);
    SSL_CTX_free(context_);
  }
  BareConnection(const BareConnection&) = delete;
  BareConnection& operator=(const BareConnection&) = delete;

  void send(const std::string& text) {
    const std::vector<unsigned char> key = signing_key();
    unsigned char mac[32];
    unsigned int mac_size = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &mac_size);
    const uint32_t length = static_cast<uint32_t>(4 + text.size() + mac_size);
    std::string frame;
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
    frame += text;
    frame.append(reinterpret_cast<const char*>(mac), mac_size);
    if (SSL_write(ssl_, frame.data(), static_cast<int>(frame.size())) != static_cast<int>(frame.size()))
      abort();
  }

  // Reads until the reply to `id` and returns it parsed; the messages before it are dropped.
  JsonPtr reply(const std::string& id) {
    for (;;) {
      while (plain_.size() - offset_ >= 4) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(plain_.data() + offset_);
        const uint32_t length = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
        if (plain_.size() - offset_ < length) break;
        JsonPtr message(json_loadb(plain_.data() + offset_ + 4, length - 4, 0, nullptr), &json_decref);
        offset_ += length;
        json_t* got = json_object_get(message.get(), "id");
        if (json_is_string(got) && id == json_string_value(got)) {
          plain_.erase(0, offset_);
          offset_ = 0;
          return message;
        }
      }
      read_some();
    }
  }

 private:
  void read_some() {
    char cipher[1 << 16];
    const int n = SSL_read(ssl_, cipher, sizeof(cipher));
    if (n <= 0) abort();
    stream_.next_in = reinterpret_cast<Bytef*>(cipher);
    stream_.avail_in = static_cast<uInt>(n);
    char out[1 << 16];
    while (stream_.avail_in > 0) {
      stream_.next_out = reinterpret_cast<Bytef*>(out);
      stream_.avail_out = sizeof(out);
      const int status = inflate(&stream_, Z_SYNC_FLUSH);
      if (status != Z_OK && status != Z_BUF_ERROR) abort();
      plain_.append(out, sizeof(out) - stream_.avail_out);
      if (status == Z_BUF_ERROR) break;
    }
  }

  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  z_stream stream_{};
  std::string plain_;
  size_t offset_ = 0;
};

// The server with the generated mailbox and a device that has added its account, for the program.
struct Setting {
  ScratchDir dir;
  std::unique_ptr<sync_server::SyncServer> server;
  Json state;  // the device's identity
  int64_t items = 0;

  Setting() {
    sync_server::ServerOptions options;
    options.state_directory = dir.file("state");
    options.hmac_key = signing_key();
    options.generated_conversations = kConversations;
    server = std::make_unique<sync_server::SyncServer>(options);

    BareConnection connection(server->port(), server->authority_pem());
    connection.send(
        R"({"method":"USER_NEW_DEVICE","id":"new","params":{"name":"bench","type":"macos","vendor_id":"V1"}})");
    JsonPtr created = connection.reply("new");
    JsonPtr result(json_incref(json_object_get(created.get(), "result")), &json_decref);
    state = patch::json_from_jansson(result.get());
    connection.send(auth_request());
    connection.send(R"({"method":"ACCOUNT_CREATE","id":"add","params":{"credentials":{"password":)"
                    R"("sample-com-password"},"data":"maya.lind@example.com","locale":"en","type":1}})");
    JsonPtr added = connection.reply("add");
    if (!json_is_null(json_object_get(added.get(), "error"))) abort();
  }

  std::string auth_request() const {
    return Json(Json::object{{"method", "USER_AUTH_DEVICE"},
                             {"id", "auth"},
                             {"params", Json::object{{"auth_version", 1},
                                                     {"user_id", state["user_id"]},
                                                     {"device_id", state["device_id"]},
                                                     {"device_secret", state["device_secret"]}}}})
        .dump();
  }
};

Setting& setting() {
  static Setting value;
  return value;
}

// A fresh directory with an empty keyed database of the core's schema.
std::unique_ptr<ScratchDir> empty_database() {
  auto dir = std::make_unique<ScratchDir>();
  DBContext::check_schema_version(dir->file("kestrun.db"), false, database_key(), [] {});
  return dir;
}

void BM_BareInitialSync(benchmark::State& state) {
  Setting& s = setting();
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<ScratchDir> database = empty_database();
    DBContext context;
    context.open(database->file("kestrun.db"), database_key());
    sqlite3* db = context.database().handle();
    state.ResumeTiming();

    BareConnection connection(s.server->port(), s.server->authority_pem());
    connection.send(s.auth_request());
    connection.send(
        R"({"method":"ACCOUNT_SNAPSHOT","id":"snapshot","params":{"account_id":"acct-example-com","sync_state":{)"
        R"("item":{"since":0,"exclude_ids":{}},"email":{"since":0,"exclude_ids":{}},)"
        R"("list":{"since":0,"exclude_ids":{}}}}})");
    JsonPtr reply = connection.reply("snapshot");
    json_t* docs = json_object_get(json_object_get(reply.get(), "result"), "docs");

    auto prepare = [&](const char* sql) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        state.SkipWithError(sqlite3_errmsg(db));
      return statement;
    };
    auto text = [](sqlite3_stmt* statement, int index, json_t* value) {
      const char* chars = json_string_value(value);
      if (chars == nullptr) {
        sqlite3_bind_null(statement, index);
        return;
      }
      sqlite3_bind_text(statement, index, chars, static_cast<int>(json_string_length(value)), SQLITE_STATIC);
    };
    auto run = [&](sqlite3_stmt* statement) {
      if (sqlite3_step(statement) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
      sqlite3_reset(statement);
    };
    sqlite3_exec(db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    sqlite3_stmt* list =
        prepare("INSERT OR REPLACE INTO KSACCOUNTLIST (LISTID, ACCOUNTID, SAVEDAT) VALUES (?,?,?);");
    sqlite3_stmt* item = prepare(
        "INSERT INTO KSITEM (ITEMID, ACCOUNTID, STATE, SUBJECT, MODIFIEDAT, SAVEDAT) VALUES (?,?,?,?,?,?);");
    sqlite3_stmt* email = prepare(
        "INSERT INTO KSEMAIL (EMAILID, ACCOUNTID, PARENTITEMID, SUBJECT, PREVIEW, CONVERSATION, CREATEDAT, "
        "MFROMID, SAVEDAT) VALUES (?,?,?,?,?,?,?,?,?);");
    sqlite3_stmt* contact =
        prepare("INSERT OR IGNORE INTO KSCONTACT (CONTACTID, EMAILADDRESS, NAME, SCORE) VALUES (?,?,?,1);");
    sqlite3_stmt* link = prepare("INSERT INTO TOEMAILS (CONTACTID, EMAILID) VALUES (?,?);");
    size_t index;
    json_t* doc;
    json_array_foreach(json_object_get(docs, "list"), index, doc) {
      text(list, 1, json_object_get(doc, "_id"));
      text(list, 2, json_object_get(doc, "acct_id"));
      sqlite3_bind_int64(list, 3, json_integer_value(json_object_get(doc, "saved_at")));
      run(list);
      ++rows;
    }
    json_array_foreach(json_object_get(docs, "item"), index, doc) {
      text(item, 1, json_object_get(doc, "_id"));
      text(item, 2, json_object_get(doc, "acct_id"));
      sqlite3_bind_int64(item, 3, json_integer_value(json_object_get(doc, "state")));
      text(item, 4, json_object_get(doc, "subject"));
      sqlite3_bind_int64(item, 5, json_integer_value(json_object_get(doc, "modified_at")));
      sqlite3_bind_int64(item, 6, json_integer_value(json_object_get(doc, "saved_at")));
      run(item);
      ++rows;
    }
    // Contacts are keyed by address here; the core makes its own ids.
    auto person = [&](json_t* name) {
      json_t* address = json_object_get(name, "address");
      text(contact, 1, address);
      text(contact, 2, address);
      text(contact, 3, json_object_get(name, "name"));
      run(contact);
      return address;
    };
    json_array_foreach(json_object_get(docs, "email"), index, doc) {
      json_t* id = json_object_get(doc, "_id");
      text(email, 1, id);
      text(email, 2, json_object_get(doc, "acct_id"));
      text(email, 3, json_object_get(doc, "p_id"));
      text(email, 4, json_object_get(doc, "subject"));
      text(email, 5, json_object_get(doc, "preview"));
      text(email, 6, json_object_get(doc, "conversation"));
      sqlite3_bind_int64(email, 7, json_integer_value(json_object_get(doc, "created_at")));
      text(email, 8, person(json_object_get(doc, "from")));
      sqlite3_bind_int64(email, 9, json_integer_value(json_object_get(doc, "saved_at")));
      run(email);
      size_t r;
      json_t* to;
      json_array_foreach(json_object_get(doc, "to"), r, to) {
        text(link, 1, person(to));
        text(link, 2, id);
        run(link);
      }
      ++rows;
    }
    for (sqlite3_stmt* statement : {list, item, email, contact, link}) sqlite3_finalize(statement);
    if (sqlite3_exec(db, "END TRANSACTION;", nullptr, nullptr, nullptr) != SQLITE_OK)
      state.SkipWithError(sqlite3_errmsg(db));

    state.PauseTiming();
    context.close();
    database.reset();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(rows / state.iterations());
  state.counters["peak_MiB"] = peak_resident_mib();
}

class BenchManagers : public libkestrun::Managers {
 public:
  BenchManagers(libkestrun::AccountManager* accounts, libkestrun::CountsManager& counts,
                libkestrun::PrefManager* prefs, libkestrun::UserManager* users)
      : accounts_(accounts), counts_(counts), prefs_(prefs), users_(users) {}
  libkestrun::AccountManager* accountManager() override { return accounts_; }
  libkestrun::CountsManager& countsManager() override { return counts_; }
  libkestrun::PrefManager* prefManager() override { return prefs_; }
  libkestrun::UserManager* userManager() override { return users_; }

 private:
  libkestrun::AccountManager* accounts_;
  libkestrun::CountsManager& counts_;
  libkestrun::PrefManager* prefs_;
  libkestrun::UserManager* users_;
};

// One installation of the core, fresh: its stores, managers and the server client, all on `core`.
struct Installation {
  brelt::UvThread& core;
  std::unique_ptr<ScratchDir> database = empty_database();
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(core);
  std::shared_ptr<libkestrun::KvStore> store = std::make_shared<libkestrun::MemoryStore>();
  std::shared_ptr<libkestrun::AccountManagerImpl> accounts =
      std::make_shared<libkestrun::AccountManagerImpl>(center, store);
  std::shared_ptr<libkestrun::ChangesManager> changes = std::make_shared<libkestrun::ChangesManager>(store);
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks = std::make_shared<libkestrun::LoggingTaskManager>();
  std::shared_ptr<libkestrun::UserManagerImpl> users;
  std::shared_ptr<libkestrun::SyncStatusManager> status =
      std::make_shared<libkestrun::SyncStatusManager>(center, store);
  std::shared_ptr<libkestrun::OfflineManager> offline;
  std::unique_ptr<libkestrun::PrefManager> prefs;
  libkestrun::CountsManager counts{center, store};
  std::unique_ptr<BenchManagers> managers;
  std::shared_ptr<libkestrun::internal::ServerClientImpl> client;
  brelt::Semaphore ended;
  std::atomic<bool> completed = false;

  Installation(brelt::UvThread& thread, const Setting& s) : core(thread) {
    KestrunDataCenter::initialize(&core, center, database->file("kestrun.db"), database_key());
    KestrunConsumerCenter::initialize(&core, database->file("kestrun.db"), database_key());
    libkestrun::JsonKvStore(store).set_json(libkestrun::kUserDocKey,
                                            Json::object{{"user_id", s.state["user_id"]},
                                                         {"device_id", s.state["device_id"]},
                                                         {"device_secret", s.state["device_secret"]}});
    core.post_sync([&] {
      accounts->load();
      patch::JanssonPtr account(patch::jansson_from_json(
          Json::object{{"account_id", kAccount}, {"data", "maya.lind@example.com"}, {"type", 1}}));
      accounts->updateFromStateDoc(account.get());
      users = std::make_shared<libkestrun::UserManagerImpl>(center, store, *accounts);
    });
    offline = std::make_shared<libkestrun::OfflineManager>(libkestrun::OfflineManager::kConnectionWifi,
                                                           std::make_shared<libkestrun::Defaults>(store),
                                                           tasks, status.get());
    prefs = std::make_unique<libkestrun::PrefManager>(&core, center, store, accounts.get());
    managers = std::make_unique<BenchManagers>(accounts.get(), counts, prefs.get(), users.get());
    libkestrun::account_manager_set_instance(accounts);
    libkestrun::changes_manager_set_instance(changes);
    libkestrun::user_manager_set_instance(users);
    libkestrun::sync_status_manager_set_instance(status);
    libkestrun::offline_manager_set_instance(offline);
    center->listen_all([this](const std::string& name, const Json&) {
      if (name != kCompleted && name != kTrouble) return;
      completed = name == kCompleted;
      ended.notify();
    });

    libkestrun::ServerEnv env;
    env.host = "localhost";
    env.port = std::to_string(s.server->port());
    const std::vector<unsigned char> key = signing_key();
    env.signing_key.assign(key.begin(), key.end());
    client = std::make_shared<libkestrun::internal::ServerClientImpl>(
        core, env, libkestrun::DEVICE_TYPE_MACOS, "com.kestrun.bench", "1.0", center, store, managers.get(),
        std::make_shared<libkestrun::PerfLogger>("macos", "1.0"));
  }

  ~Installation() {
    client.reset();
    core.post_sync([&] { KestrunDataCenter::getMemoryContext()->clearStore(); });
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::sync_status_manager_set_instance(nullptr);
    libkestrun::user_manager_set_instance(nullptr);
    libkestrun::changes_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
    core.post_sync([&] { users.reset(); });
    prefs.reset();
  }
};

void BM_ServerClientInitialSync(benchmark::State& state) {
  Setting& s = setting();
  brelt::UvThread core(true);
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto installation = std::make_unique<Installation>(core, s);
    state.ResumeTiming();

    core.post([&] { installation->client->connect(); });
    installation->ended.wait();

    state.PauseTiming();
    if (!installation->completed) state.SkipWithError("the initial sync did not complete");
    KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
      rows = static_cast<int64_t>(context.itemSavedTimesSince(kAccount, 0, 1 << 30).size() +
                                  context.emailSavedTimesSince(kAccount, 0, 1 << 30).size() +
                                  context.accountListSavedTimesSince(kAccount, 0, 1 << 30).size());
    });
    installation.reset();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["peak_MiB"] = peak_resident_mib();
}

BENCHMARK(BM_BareInitialSync)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ServerClientInitialSync)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  // The product trusts what the shared TLS context trusts: the local server's authority.
  const std::string& pem = setting().server->authority_pem();
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* authority = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (authority == nullptr) return 1;
  X509_STORE_add_cert(SSL_CTX_get_cert_store(brelt::TlsFilter::default_context()), authority);
  X509_free(authority);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
