// `make run`: the core end to end through its facade, against the local sync server running in
// this process. It registers this device anonymously, adds the server's sample account, connects,
// waits for the first sync, prints the inbox as a user sees it, archives one conversation and
// prints what the live query, the server and the counts make of it, then shuts everything down.
//
//   kestrun_run STATE_DIRECTORY
//
// Each run starts over: the state directory (in the build tree) is emptied, the server seeds its
// sample mailbox again and the core gets a new data directory. Every wait is bounded; a step that
// does not finish in time ends the program with a message and exit status 1.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/api/api.h"
#include "core/foundation/notification_center.h"
#include "core/services/sync_status_manager.h"
#include "device_identity.h"
#include "inbox_view.h"
#include "local_server.h"
#include "task_watch.h"
#include "tools/host_http/http_bridge.h"

namespace {

using libkestrun::AccountActionErrorType;
using libkestrun::ItemGestureContextType;
using namespace std::chrono_literals;

const std::chrono::seconds kDeadline(20);
const size_t kRowsShown = 8;
const int kPage = 50;

// The server's sample account (tools/sync_server/sample_mailbox.cpp).
const char kSampleAddress[] = "maya.lind@example.com";
// A Gmail account is added with an access code.
const char kSampleAccessCode[] = "sample-com-code";

// A result that another thread hands over once.
template <class T>
class Handover {
 public:
  void set(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (value_) return;
    value_ = std::make_unique<T>(std::move(value));
    ready_.notify_all();
  }
  // The value; throws naming `what` when none arrived within the deadline.
  T wait(const char* what) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, kDeadline, [&] { return value_ != nullptr; }))
      throw std::runtime_error(std::string(what) + ": nothing within 20 s");
    return *value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::unique_ptr<T> value_;  // guarded by mutex_
};

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": nothing within 20 s");
}

// Polls `done` until it holds or the deadline passes (for state the core offers no event for).
void poll(const std::function<bool()>& done, const char* what) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) require(false, what);
    std::this_thread::sleep_for(10ms);
  }
}

void print_counts(libkestrun::Api& api, const std::string& account_id) {
  const int count = api.get_email_count_for_account(account_id);
  std::printf(
      "counts: inbox of the account %s (server), %d stored here; archived %s in all\n",
      kestrun_run::count_text(count, api.active_is_exact_for_account(account_id)).c_str(),
      api.number_of_active_items_for_account(account_id),
      kestrun_run::count_text(api.total_significant_completed_count(), api.completed_is_exact()).c_str());
}

void run_scenario(libkestrun::Api& api, kestrun_run::TaskWatch& tasks, const std::string& data_directory) {
  // Heard through the facade's notification centre, the process-wide one while the Api lives.
  Handover<bool> synced;
  int listener_key = 0;
  libkestrun::notification_center_listen(
      libkestrun::kSyncInitialSyncCompleted, &listener_key,
      [&](const std::string&, const jsonette::Json&) { synced.set(true); });

  // Registration sends no answer to the caller: the user document tells when it is done.
  const std::string vendor = kestrun_run::vendor_id(data_directory);
  api.register_anonymous_device(vendor, "macos", kestrun_run::device_name());
  poll([&] { return api.device_is_registered(); }, "registering this device");
  std::printf("device registered anonymously: user %s, device %s\n", api.user_id().c_str(),
              api.device_id().c_str());

  Handover<std::string> added;
  api.add_email_account(
      kSampleAddress, kSampleAccessCode, libkestrun::EmailAccountType::Gmail, "en",
      [&](std::string account_id) { added.set(account_id); },
      [&](AccountActionErrorType error) { added.set("error " + std::to_string(static_cast<int>(error))); });
  const std::string account_id = added.wait("adding the sample account");
  if (account_id.rfind("error ", 0) == 0)
    throw std::runtime_error("adding the sample account failed: " + account_id);
  std::printf("account added: %s (%s)\n", kSampleAddress, account_id.c_str());

  api.connect();
  synced.wait("the first sync");
  std::printf("first sync complete; connected: %s\n", api.is_connected() ? "yes" : "no");

  // The inbox, one section per account.
  std::vector<std::shared_ptr<kestrun_run::ListPrinter>> inboxes;
  const libkestrun::EmailAccountList accounts = api.all_primary_email_accounts();
  for (const auto& account : *accounts) {
    const std::string id = account->accountID;
    auto printer = std::make_shared<kestrun_run::ListPrinter>();
    api.perform_query_items("inbox " + account->emailAddress, ItemGestureContextType::AccountInbox, kPage, "",
                            id, printer);
    std::printf(
        "\nInbox of %s: %s\n", account->emailAddress.c_str(),
        kestrun_run::count_text(api.get_email_count_for_account(id), api.active_is_exact_for_account(id))
            .c_str());
    printer->print_rows(kRowsShown);
    inboxes.push_back(printer);
  }
  std::printf("\nLater\n");
  api.perform_deferral_section_query("later", 0, "", std::make_unique<kestrun_run::DeferralPrinter>());
  api.end_query("later");

  // Archive the newest conversation of the first account's inbox.
  auto& inbox = *inboxes.front();
  const std::string item_id = inbox.first_id();
  if (item_id.empty()) throw std::runtime_error("the sample account's inbox is empty");
  const int batches = inbox.batches();
  Handover<std::vector<std::string>> archived;
  std::printf("\narchiving the newest conversation\n");
  api.archive_item(
      item_id, [&](std::vector<std::string>& ids) { archived.set(ids); }, false);
  const std::vector<std::string> ids = archived.wait("archiving");
  require(inbox.wait_for_batches(batches + 1, kDeadline), "the live query's change");
  std::printf("archive committed for %zu conversation(s); its change is queued for the server\n", ids.size());
  require(tasks.wait_idle(kDeadline), "the server's acknowledgement");
  std::printf("the server acknowledged it: the outgoing queue is empty\n");
  print_counts(api, account_id);

  for (const auto& account : *accounts) api.end_query("inbox " + account->emailAddress);
  libkestrun::notification_center_stop_listening(&listener_key);
  api.disconnect();
  std::printf("\ndisconnected\n");
}

int run(const std::string& state) {
  namespace fs = std::filesystem;
  fs::remove_all(state);
  const std::string data_directory = state + "/kestrun";
  fs::create_directories(data_directory + "/downloads");

  kestrun_run::LocalServer server(state + "/sync-server");
  std::printf("local sync server on 127.0.0.1:%u (state in %s/sync-server)\n", server.port(), state.c_str());

  auto bridge = std::make_shared<kestrun_host::HttpBridge>(data_directory + "/downloads");
  auto tasks = std::make_shared<kestrun_run::TaskWatch>();
  libkestrun::Overrides overrides;
  overrides.task_manager = tasks;
  {
    libkestrun::Api api(server.config(data_directory), overrides,
                        kestrun_host::HttpBridge::download_hook(bridge),
                        kestrun_host::HttpBridge::upload_hook(bridge), [bridge] { bridge->stop(); });
    std::printf("core started (data in %s)\n", data_directory.c_str());
    run_scenario(api, *tasks, data_directory);
  }
  std::printf("core shut down\n");
  server.stop();
  std::printf("sync server stopped\n\n");
  std::printf(
      "Not built yet: the application layer (windows, the conversation view, compose, settings).\n"
      "Everything above went through libkestrun::Api, the facade the application will use.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrun_run STATE_DIRECTORY\n");
    return 2;
  }
  // Lines appear as they are printed, also when the output goes to a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    return run(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrun_run: %s\n", e.what());
    return 1;
  }
}
