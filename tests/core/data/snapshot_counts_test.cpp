// The server's counts through a first sync: the account status document sets them, the snapshot
// client hands the account's snapshot to the data center, and the controller's count correction
// follows. Real data center on a keyed store, real counts, changes and sync status managers; the
// connection is a recording stand-in, whose reply the test hands to the snapshot client as the
// dispatcher would.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/data/data_center.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/semaphore.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/sync/snapshot_server_client_impl.h"
#include "server_data_fixture.h"
#include "support/fake_account_manager.h"
#include "support/fake_server_client.h"
#include "support/fake_user_manager.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"

namespace {

using jsonette::Json;
using kestrun_test::json;
using kestrun_test::run_on;
using libkestrun::CountsManager;
using libkestrun::internal::SnapshotServerClientImpl;

// The three counts of account "A" and whether the server's inbox count stands as exact.
struct Counts {
  int active = 0;
  int completed = 0;
  int deleted = 0;
  bool activeExact = false;
  bool operator==(const Counts&) const = default;
};

void PrintTo(const Counts& c, std::ostream* out) {
  *out << "{" << c.active << ", " << c.completed << ", " << c.deleted << (c.activeExact ? ", exact}" : "}");
}

// The status document's counts: 3 in the inbox, 2 archived, 1 in the trash, all exact.
const char kStatus[] =
    "{'active': {'count': 3, 'exact': true}, 'completed': {'count': 2, 'exact': true}, "
    "'deleted': {'count': 1, 'exact': true}, 'sent': {'count': 0, 'exact': true}, 'lists': []}";

// The six conversations the status counts, each with one e-mail (an inbox item counts as stored
// once it holds an e-mail).
const char kSnapshot[] =
    "{'item': [{'_id': 'I1', 'acct_id': 'A', 'state': 2}, {'_id': 'I2', 'acct_id': 'A', 'state': 2}, "
    "{'_id': 'I3', 'acct_id': 'A', 'state': 2}, {'_id': 'I4', 'acct_id': 'A', 'state': 3}, "
    "{'_id': 'I5', 'acct_id': 'A', 'state': 3}, {'_id': 'I6', 'acct_id': 'A', 'state': 4}], "
    "'email': [{'_id': 'E1', 'acct_id': 'A', 'p_id': 'I1', 'created_at': 7}, "
    "{'_id': 'E2', 'acct_id': 'A', 'p_id': 'I2', 'created_at': 7}, "
    "{'_id': 'E3', 'acct_id': 'A', 'p_id': 'I3', 'created_at': 7}, "
    "{'_id': 'E4', 'acct_id': 'A', 'p_id': 'I4', 'created_at': 7}, "
    "{'_id': 'E5', 'acct_id': 'A', 'p_id': 'I5', 'created_at': 7}, "
    "{'_id': 'E6', 'acct_id': 'A', 'p_id': 'I6', 'created_at': 7}]}";

// The core's managers as the data center reads them: only the counts manager is used.
class CountsOnly : public libkestrun::Managers {
 public:
  explicit CountsOnly(CountsManager& counts) : counts_(counts) {}
  libkestrun::AccountManager* accountManager() override { return nullptr; }
  CountsManager& countsManager() override { return counts_; }
  libkestrun::PrefManager* prefManager() override { return nullptr; }
  libkestrun::UserManager* userManager() override { return nullptr; }

 private:
  CountsManager& counts_;
};

class SnapshotCountsTest : public ::testing::Test {
 protected:
  SnapshotCountsTest() {
    accounts_->account_authenticated = true;
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::changes_manager_set_instance(changes_);
    libkestrun::counts_manager_set_instance(counts_);
    const std::optional<std::string> key = std::string("0123456789abcdef0123456789ABCDEF");
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, key, [] {});
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), key);

    SnapshotServerClientImpl::Neighbours n;
    n.accounts = accounts_.get();
    n.changes = changes_.get();
    n.status = &status_;
    n.users = &users_;
    n.server = &server_;
    run_on(thread_, [&] {
      client_ = std::make_unique<SnapshotServerClientImpl>(std::make_shared<libkestrun::MemoryStore>(), n,
                                                           brelt::ApiClient::Options{}, thread_,
                                                           SnapshotServerClientImpl::Timing{});
      // What the controller does when an account's snapshot is in.
      client_->account_snapshot_listeners.push_back([this](const std::string& accountID) {
        KestrunDataCenter::synchronize_counts_after_snapshot(accountID, &managers_);
      });
    });
  }
  ~SnapshotCountsTest() override {
    run_on(thread_, [&] { client_.reset(); });
    drain();
    libkestrun::counts_manager_set_instance(nullptr);
    libkestrun::changes_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
  }

  Counts counts() {
    return {counts_->activeCountForAccount("A"), counts_->totalCompletedCount(), counts_->totalDeletedCount(),
            counts_->activeIsExactForAccount("A")};
  }

  // Returns once everything queued so far, low priority included, has run.
  void drain() {
    patch::semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
  }

  // Asks for account A's first snapshot and answers it with kSnapshot; `status` (when given) is
  // applied before the reply or, with `statusAfterReply`, after the reply was handed in but before
  // its data task runs, which is where a status pushed behind the reply lands. Returns the counts
  // seen by an observer of the completion notification.
  Counts firstSync(const char* status, bool statusAfterReply) {
    Counts seen;
    patch::semaphore completed;
    libkestrun::NotificationObserver observer =
        center_->observe(libkestrun::kSyncInitialSyncCompleted, [&](const std::string&, const Json&) {
          seen = counts();
          completed.notify();
        });
    run_on(thread_, [&] { client_->requestInitialSnapshot("A", false); });
    const std::vector<kestrun_test::Call> sent = server_.calls();
    EXPECT_FALSE(sent.empty());
    const std::string id = sent.empty() ? "" : sent.back().args[2].string_value();
    run_on(thread_, [&] {
      if (status && !statusAfterReply) counts_->updateCounts(json(status), "A");
      client_->handleSnapshotResponse(
          id,
          Json::object{{"account_id", "A"}, {"docs", json(kSnapshot)}, {"sync_state", json("{'item': 9}")}},
          Json());
      if (status && statusAfterReply) counts_->updateCounts(json(status), "A");
    });
    completed.wait();
    drain();
    return seen;
  }

  // Applies one pushed document and waits for its completion.
  void push(const std::string& text, const std::string& type) {
    json_t* document = kestrun_test::doc(text);
    patch::semaphore done;
    run_on(thread_, [&] {
      KestrunDataCenter::processDocument(document, type, nullptr, [&](auto&) { done.notify(); });
    });
    done.wait();
    json_decref(document);
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  kestrun_test::TempDir dir_;
  std::shared_ptr<kestrun_test::FakeAccountManager> accounts_ =
      std::make_shared<kestrun_test::FakeAccountManager>();
  std::shared_ptr<libkestrun::ChangesManager> changes_ =
      std::make_shared<libkestrun::ChangesManager>(std::make_shared<libkestrun::MemoryStore>());
  std::shared_ptr<CountsManager> counts_ =
      std::make_shared<CountsManager>(center_, std::make_shared<libkestrun::MemoryStore>());
  libkestrun::SyncStatusManager status_{center_, std::make_shared<libkestrun::MemoryStore>()};
  kestrun_test::FakeUserManager users_;
  kestrun_test::FakeServerClient server_;
  CountsOnly managers_{*counts_};
  std::unique_ptr<SnapshotServerClientImpl> client_;
};

// The conversations of a snapshot are those the server's status counts, whichever of the two the
// core applies first: nothing is counted twice, and the numbers are right when the first sync is
// announced. Without a status the snapshot's own conversations give an estimate.
TEST_F(SnapshotCountsTest, AFirstSyncCountsEachConversationOnce) {
  const struct {
    const char* name;
    const char* status;
    bool statusAfterReply;
    Counts expected;
  } cases[] = {
      {"status before the reply", kStatus, false, {3, 2, 1, true}},
      {"status behind the reply", kStatus, true, {3, 2, 1, true}},
      {"no status yet", nullptr, false, {3, 2, 1, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_on(thread_, [&] { counts_->clearAll(); });
    KestrunDataCenter::performSyncDataTask([](std::vector<std::string>&, DBContext& context) {
      context.reset();
      context.recreate();
    });
    EXPECT_EQ(firstSync(c.status, c.statusAfterReply), c.expected);
    // The correction the controller queues as the snapshot is in keeps them.
    EXPECT_EQ(counts(), c.expected);
  }
}

// A pushed document is a change the last status did not count: it still moves one count.
TEST_F(SnapshotCountsTest, PushedDocumentsStillMoveOneCount) {
  firstSync(kStatus, false);
  push("{'_id': 'I7', 'acct_id': 'A', 'state': 2}", "item");
  EXPECT_EQ(counts(), (Counts{4, 2, 1, true}));
  push("{'_id': 'I1', 'acct_id': 'A', 'state': 3}", "item");
  EXPECT_EQ(counts(), (Counts{3, 3, 1, true}));
  push("{'_id': 'I4', 'acct_id': 'A', 'state': 4}", "item");
  EXPECT_EQ(counts(), (Counts{3, 2, 2, true}));
}

}  // namespace
