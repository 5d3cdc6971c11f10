// What the sync server sends into the store: pushed documents, account snapshots, draft batches
// and auto-swipe rules (see data_center.h).
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

#include "core/data/auto_swipe_rules.h"
#include "core/data/data_center.h"
#include "core/data/held_document.h"
#include "core/foundation/json_conversion.h"
#include "core/model/change_set.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"

namespace {

using Results = std::vector<std::string>;

// The new-mail counter and the ids of the conversations the counted e-mails belong to. Core
// thread only.
struct NewMail {
  int32_t count = 0;
  std::unordered_set<std::string> itemIDs;
};

NewMail& newMail() {
  static NewMail instance;
  return instance;
}

void resetNewMail() {
  newMail().count = 0;
  newMail().itemIDs.clear();
}

// Appends the two counts and resets them, so the next reader starts from nothing.
void appendNewMail(Results& results) {
  results.push_back(std::to_string(newMail().count));
  results.push_back(std::to_string(static_cast<uint64_t>(newMail().itemIDs.size())));
  resetNewMail();
}

// The snapshot's document kinds in the order they are applied: account lists before the items
// that refer to them, items before their e-mails.
const char* const kSnapshotKinds[] = {"list", "item", "email"};

// The lookups of a whole snapshot share one read transaction instead of taking and dropping the
// file lock (and checking for a journal) once per statement. It ends before the commit begins its
// write transaction; on a throw the data center rolls it back.
void applySnapshot(const jsonette::Json& snapshot, DBContext& context) {
  context.database().execDML("BEGIN DEFERRED TRANSACTION;");
  for (const char* kind : kSnapshotKinds) {
    for (const jsonette::Json& element : snapshot[kind].array_items()) {
      if (!element.is_object()) continue;
      std::unique_ptr<json_t, decltype(&json_decref)> document(patch::jansson_from_json(element),
                                                               &json_decref);
      KestrunDataCenter::applyDocument(document.get(), kind);
    }
  }
  context.database().execDML("END TRANSACTION;");
}

// A change token as the server sent it: a JSON integer, read without passing through a double so
// that every bit arrives. Anything else (absent, negative, fractional, or too large to be parsed
// as an integer) is no token: the stored one stays, and the server resends from there rather than
// skipping changes.
std::optional<uint64_t> tokenOf(const jsonette::Json& tokens, const char* kind) {
  const jsonette::Json& token = tokens[kind];
  if (!token.is_integer() || token.int64_value() <= 0) return std::nullopt;
  return static_cast<uint64_t>(token.int64_value());
}

// While a snapshot that a status document accompanies is applied, its conversations do not move
// the counts the server reports for the account: that status counts them already.
class SnapshotCounts {
 public:
  SnapshotCounts(const std::string& accountID, bool statusFollows) : active_(statusFollows) {
    if (active_) libkestrun::counts_manager_begin_snapshot(accountID);
  }
  ~SnapshotCounts() {
    if (active_) libkestrun::counts_manager_end_snapshot();
  }
  SnapshotCounts(const SnapshotCounts&) = delete;
  SnapshotCounts& operator=(const SnapshotCounts&) = delete;

 private:
  const bool active_;
};

void storeTokens(const jsonette::Json& tokens, const std::string& accountID) {
  if (accountID.empty() || tokens.is_null()) return;
  libkestrun::changes_manager_set_tokens(accountID, tokenOf(tokens, "item"), tokenOf(tokens, "email"),
                                         tokenOf(tokens, "list"));
}

}  // namespace

std::shared_ptr<KestrunObject> KestrunDataCenter::applyDocument(json_t* document,
                                                                const std::string& docType) {
  if (!json_is_object(document)) return nullptr;
  std::shared_ptr<KestrunObject> object =
      KestrunContext::applyServerDocument(document, docType, "_id", getDBContext());
  if (object && docType == "email") {
    auto& email = static_cast<KSEmail&>(*object);
    if (email.isNewIncomingInboxEmail()) {
      ++newMail().count;
      newMail().itemIDs.insert(email.get_PARENTITEMID());
    }
  }
  return object;
}

void KestrunDataCenter::processDocument(json_t* document, const std::string& docType, Completion first,
                                        Completion second) {
  if (document == nullptr) return;
  auto held = libkestrun::hold_document(document);
  resetNewMail();
  performLowPriorityDataTask(
      [held, docType](Results& results, DBContext&) {
        if (auto object = applyDocument(held.get(), docType)) results.push_back(object->id());
      },
      [first = std::move(first)](Results& results) {
        appendNewMail(results);
        if (first) first(results);
      },
      std::move(second));
}

bool KestrunDataCenter::snapshotHasObjects(const jsonette::Json& snapshot) {
  for (const char* kind : kSnapshotKinds) {
    if (!snapshot[kind].array_items().empty()) return true;
  }
  return false;
}

void KestrunDataCenter::processDocumentSnapshot(const jsonette::Json& snapshot, const jsonette::Json& tokens,
                                                const std::string& accountID, Completion first,
                                                Completion second, bool statusFollows) {
  resetNewMail();
  // Set once the snapshot's rows are committed. The task commits them itself: the data center's
  // own commit comes after the task and tells no completion whether it failed, and tokens stored
  // for a snapshot that was rolled back would make the server skip its documents for good.
  auto applied = std::make_shared<bool>(false);
  performLowPriorityDataTask(
      [snapshot, accountID, statusFollows, applied](Results&, DBContext& context) {
        SnapshotCounts counts(accountID, statusFollows);
        applySnapshot(snapshot, context);
        libkestrun::ChangeSet changes;
        context.commit(changes);
        *applied = true;
      },
      [tokens, accountID, applied, first = std::move(first)](Results& results) {
        if (*applied) {
          storeTokens(tokens, accountID);
          appendNewMail(results);
        } else {
          resetNewMail();
        }
        if (first) first(results);
      },
      std::move(second));
}

void KestrunDataCenter::synchronize_counts_after_snapshot(const std::string& accountID,
                                                          libkestrun::Managers* managers) {
  if (managers == nullptr) return;
  performLowPriorityDataTask(
      [accountID, managers](Results&, DBContext& context) {
        const int count = KSItem::countInboxItemsForAccount(accountID, &context);
        managers->countsManager().updateActiveCountIfExact(accountID, count);
      },
      nullptr, nullptr);
}

void KestrunDataCenter::processServerBatch(std::vector<libkestrun::DraftUpdate>&& updates,
                                           std::function<void()> done) {
  auto batch = std::make_shared<std::vector<libkestrun::DraftUpdate>>(std::move(updates));
  performNormalDataTask(
      [batch](Results&, DBContext& context) {
        for (const libkestrun::DraftUpdate& update : *batch) {
          if (update.removed) {
            context.removeDraft(update.draft_id);
          } else if (update.draft) {
            context.updateDraft(*update.draft);
            context.updateItemForDraft(*update.draft);
          }
        }
      },
      [done = std::move(done)](Results&) {
        if (done) done();
      },
      nullptr);
}

void KestrunDataCenter::processAutoSwipeGet(json_t* rules, Completion first, Completion second) {
  if (rules == nullptr) return;
  auto held = libkestrun::hold_document(rules);
  performLowPriorityDataTask(
      [held](Results& results, DBContext&) {
        if (!json_is_array(held.get())) return;
        int64_t earliest = std::numeric_limits<int64_t>::max();
        // The size is read on every turn: applying a rule never changes the array, but the walk
        // must not depend on that.
        for (size_t i = 0; i < json_array_size(held.get()); ++i) {
          json_t* element = json_array_get(held.get(), i);
          if (element == nullptr) break;
          if (!json_is_object(element)) continue;
          std::optional<int64_t> last = libkestrun::rule_last_action_at(applyDocument(element, "auto_swipe"));
          if (last && *last < earliest) earliest = *last;
        }
        results.push_back(std::to_string(earliest));
      },
      std::move(first), std::move(second));
}
