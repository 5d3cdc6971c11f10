// `make run`: runs, end to end, as much of the core as has been built so far, and says plainly
// what cannot run yet. State lives in the directory given as the first argument, so a second
// run shows what the first one left behind; the second argument is the address of the local sync
// server that scripts/run started, when there is one. Without a server (or when it cannot be
// reached) the program writes a few sample conversations through the model instead.
//
// Every wait is bounded; a server that stops answering ends the program with an error and a
// non-zero exit status.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/data/data_writer.h"
#include "core/foundation/defaults.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/posix_file_utility.h"
#include "core/foundation/utility.h"
#include "core/locales/texts.h"
#include "core/model/db_context.h"
#include "core/model/item_orderings.h"
#include "core/model/ks_item.h"
#include "core/model/query_observer.h"
#include "core/model/query_updater.h"
#include "core/services/counts_manager.h"
#include "core/services/undo_manager.h"
#include "platform/localization/localization.h"
#include "sync_run.h"

namespace {

using libkestrun::ItemState;
using Object = std::shared_ptr<KestrunObject>;
using Results = std::vector<std::string>;

const char kRunCountKey[] = "kestrun.run.count";
const std::chrono::seconds kDeadline(10);
const size_t kRowsShown = 8;

struct Sample {
  const char* id;
  const char* subject;
  const char* preview;
  ItemState state;
  int minutes_ago;
  bool read;
};

const Sample kSamples[] = {
    {"S1", "Quarterly planning", "Agenda attached for Thursday's review", ItemState::Inbox, 12, false},
    {"S2", "Your flight on Friday", "Check-in opens 24 hours before departure", ItemState::Inbox, 95, true},
    {"S3", "Re: lunch?", "Sounds good, see you at noon", ItemState::Inbox, 240, false},
    {"S4", "Receipt #4411", "Thanks for your order", ItemState::Archive, 600, true},
    {"S5", "Newsletter", "This week in gardening", ItemState::Trash, 900, true},
};

void show_core_thread(brelt::UvThread& core) {
  using namespace std::chrono_literals;
  std::string order;
  brelt::Semaphore done;
  core.post_sync([&] {
    core.post_low([&] { order += "low "; });
    core.post([&] { order += "high "; });
  });
  auto timer = core.defer(20ms, [&] {
    order += "timer";
    done.notify();
  });
  done.wait();
  std::printf("core thread: queued work ran in priority order: %s\n", order.c_str());
}

std::string key_value_store(libkestrun::Defaults& defaults, int& run) {
  run = 0;
  defaults.read_int(kRunCountKey, run);
  ++run;
  defaults.set_json(kRunCountKey, run);
  std::string key = defaults.get_encryption_key();
  std::printf("key-value store \"defaultsdb\": run %d; per-install database key of %zu bytes\n", run,
              key.size());
  return key;
}

void show_locale() {
  namespace text = libkestrun::text;
  Localization& l10n = Localization::instance();
  std::printf("locale: table \"%s\" of %zu; folders:", l10n.get_current_locale().c_str(),
              l10n.locales().size());
  for (const char* folder : {text::kInbox, text::kLater, text::kArchive, text::kTrash}) {
    std::printf(" \"%s\"", LOCALIZED_STRING(folder, "A folder name").c_str());
  }
  std::printf("; plural:");
  for (int count : {1, 3}) {
    const std::string form = PLURALIZED_STRING(text::kUnsentMessage, text::kUnsentMessages,
                                               "Unsent e-mails of a conversation", count);
    std::vector<char> line(form.size() + 16);
    std::snprintf(line.data(), line.size(), form.c_str(), count);
    std::printf(" \"%s\"", line.data());
  }
  std::printf("\n");
}

// Writes the sample conversations through the model, once per database.
void write_samples() {
  KestrunDataCenter::performSyncDataTask([](Results&, DBContext& context) {
    if (context.itemExists(kSamples[0].id)) return;
    const int64_t now = libkestrun::Utility::now_ms();
    for (const Sample& s : kSamples) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", s.id));
      item->setItemID(s.id);
      item->setAccountID("sample-account");
      item->setSubject(s.subject);
      item->setThreadPreview(s.preview);
      item->setState(s.state);
      item->setThreadRead(s.read);
      item->setThreadHasEmails(true);
      item->setThreadCount(1);
      item->setModifiedAt(now - s.minutes_ago * 60000LL);
      item->setThreadTimestamp(now - s.minutes_ago * 60000LL);
    }
    std::printf("sample data: %zu conversations written through the model in one data task\n",
                std::size(kSamples));
  });
}

std::string row_text(const Object& row) {
  const auto& item = static_cast<const KSItem&>(*row);
  std::string line = std::string(item.threadRead() ? "   " : " * ") + item.subject();
  if (!item.threadPreview().empty()) line += "  -- " + item.threadPreview().substr(0, 40);
  return line;
}

// What the inbox view will see: the first rows, then every change the live query reports.
// The consumer center calls it under its mutex (first pass on the main thread, later passes on
// the core thread); `mutex` guards `changes_seen` for the main thread's wait.
class InboxPrinter {
 public:
  std::shared_ptr<libkestrun::FnDataQueryObserver> observer() {
    return std::make_shared<libkestrun::FnDataQueryObserver>(
        [this](const std::string&, const std::vector<Object>& rows) { rows_ = rows.size(); },
        [this](const std::string& name) {
          std::printf("live query \"%s\" reports:\n", name.c_str());
          changes_in_batch_ = 0;
        },
        [this](const std::string&, Object row, libkestrun::ConsumerChangeType type, int from, int to) {
          if (changes_in_batch_++ < kRowsShown)
            std::printf("  %-8s %s (row %d -> %d)\n", change_name(type), row_text(row).c_str(), from, to);
        },
        [this](const std::string&) {
          if (changes_in_batch_ > kRowsShown)
            std::printf("  ... and %zu more changes\n", changes_in_batch_ - kRowsShown);
          std::printf("  inbox now holds %zu conversations\n", rows_);
          std::lock_guard<std::mutex> lock(mutex_);
          ++changes_seen_;
          changed_.notify_all();
        });
  }

  static void print(const std::vector<Object>& rows) {
    std::printf("\n%s (%zu), newest first, * unread\n",
                LOCALIZED_STRING(libkestrun::text::kInbox, "").c_str(), rows.size());
    for (size_t i = 0; i < rows.size() && i < kRowsShown; ++i) std::printf("%s\n", row_text(rows[i]).c_str());
    if (rows.size() > kRowsShown) std::printf("   ... and %zu more\n", rows.size() - kRowsShown);
  }

  // The batches of changes reported so far.
  int changes_seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_seen_;
  }

  // Waits until the query has reported `count` batches of changes.
  void wait_for_changes(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, kDeadline, [&] { return changes_seen_ >= count; })) {
      throw std::runtime_error("the inbox query reported no change within 10 s");
    }
  }

 private:
  static const char* change_name(libkestrun::ConsumerChangeType type) {
    switch (type) {
      case libkestrun::ConsumerChangeType::Insert:
        return "inserted";
      case libkestrun::ConsumerChangeType::Delete:
        return "removed";
      case libkestrun::ConsumerChangeType::Update:
        return "updated";
      case libkestrun::ConsumerChangeType::MovedIn:
        return "moved in";
      case libkestrun::ConsumerChangeType::MovedOut:
        return "moved out";
    }
    return "changed";
  }

  size_t rows_ = 0;
  size_t changes_in_batch_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  int changes_seen_ = 0;
};

// The newest inbox conversation's id and subject; empty on an empty inbox.
std::pair<std::string, std::string> newest_inbox_item() {
  std::pair<std::string, std::string> newest;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    auto inbox = context.inboxItemsSinceQuery(0);
    if (inbox->empty()) return;
    auto item = std::static_pointer_cast<KSItem>(
        *std::min_element(inbox->begin(), inbox->end(), KSItem::ModifiedAtDesc()));
    newest = {item->itemID(), item->subject()};
  });
  return newest;
}

// Archives the newest inbox conversation as the archive gesture will, through the data writer
// (undo step, counts, server request), then asks the undo question and takes the step back.
// Every change is awaited through the inbox query's report.
void archive_and_undo(InboxPrinter& printer) {
  const auto [id, subject] = newest_inbox_item();
  if (id.empty()) return;
  std::printf("\narchiving \"%s\" through the data writer\n", subject.c_str());
  int seen = printer.changes_seen();
  KestrunDataWriter::completeItem(id, nullptr);
  printer.wait_for_changes(seen + 1);
  std::printf("archived conversations counted: %d; undo asks: \"%s\"\n",
              libkestrun::counts_manager_total_completed_count(),
              libkestrun::undo_manager_alert_message_for_current_state().c_str());
  seen = printer.changes_seen();
  libkestrun::undo_manager_perform_undo_action();
  printer.wait_for_changes(seen + 1);
  std::printf("undone: archived conversations counted: %d\n",
              libkestrun::counts_manager_total_completed_count());
}

int run(const std::string& caches, const std::string& server) {
  libkestrun::posix::PosixFileUtility files;
  files.ensure_directory(caches);
  std::printf("Kestrun core (state in %s)\n\n", caches.c_str());

  brelt::UvThread core(true);
  show_core_thread(core);

  libkestrun::Defaults defaults(caches);
  int run_number = 0;
  const std::string key = key_value_store(defaults, run_number);
  show_locale();

  // The database as the core opens it: the schema check first, then both centres on the core
  // thread with the per-install key.
  const std::string name = DBContext::database_name(caches, "kestrun.db", false);
  bool rebuilt = false;
  DBContext::check_schema_version(name, false, key, [&] { rebuilt = true; });
  auto notifications = std::make_shared<libkestrun::NotificationCenter>(core);
  KestrunDataCenter::initialize(&core, notifications, name, key);
  KestrunConsumerCenter::initialize(&core, name, key);
  std::printf(
      "database \"kestrun.db\": schema version %d, pages encrypted, %s; data and consumer centres open\n",
      DBContext::schema_version, rebuilt ? "created" : "kept from the last run");

  // The mail services the data writer records its steps with.
  libkestrun::counts_manager_set_instance(
      std::make_shared<libkestrun::CountsManager>(notifications, defaults.get_store()));
  libkestrun::undo_manager_set_instance(std::make_shared<libkestrun::UndoManager>(notifications));

  // The inbox query runs first, so that it reports what the snapshot changes.
  InboxPrinter printer;
  KestrunConsumerCenter::addQuery(
      "inbox", "KSITEM",
      std::make_unique<libkestrun::FnObjectQuery>(
          "inbox",
          [](const std::string&, KestrunContext& context) {
            auto rows = context.inboxItemsSinceQuery(0);
            std::sort(rows->begin(), rows->end(), KSItem::ModifiedAtDesc());
            return rows;
          },
          KSItem::ModifiedAtDesc(), KSItem::ChangeIsUserVisible(), printer.observer()),
      false);
  KestrunConsumerCenter::withDBContext([](DBContext& context) {
    auto rows = context.inboxItemsSinceQuery(0);
    std::sort(rows->begin(), rows->end(), KSItem::ModifiedAtDesc());
    InboxPrinter::print(*rows);
  });

  bool synced = false;
  if (!server.empty())
    synced = kestrun_run::sync_sample_account(core, defaults, notifications, caches, server, kDeadline);
  if (!synced) write_samples();
  archive_and_undo(printer);
  KestrunConsumerCenter::endQuery("inbox");
  libkestrun::query_updater_set_instance(nullptr);
  libkestrun::account_manager_set_instance(nullptr);
  libkestrun::undo_manager_set_instance(nullptr);
  libkestrun::counts_manager_set_instance(nullptr);

  std::printf(
      "\nNot built yet: the core's server client (this program syncs through a stand-in of its own),\n"
      "the core facade and every window. The archive and its undo stay local: nothing sends\n"
      "them to the server until the server client exists.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string caches = argc > 1 ? argv[1] : "kestrun-run";
  const std::string server = argc > 2 ? argv[2] : "";
  try {
    return run(caches, server);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrun_run: %s\n", e.what());
    return 1;
  }
}
