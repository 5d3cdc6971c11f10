#include "core/data/consumer_center.h"

#include <exception>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "brelt/log.h"
#include "core/foundation/code_timer.h"
#include "core/foundation/semaphore.h"
#include "core/model/query_updater.h"

namespace {

using libkestrun::ChangeSet;
using libkestrun::ConsumerChangeType;
using libkestrun::TableChangeSet;

struct State {
  brelt::UvThread* thread = nullptr;  // set by initialize, before any other use
  // The consumer mutex guards everything below.
  std::mutex mutex;
  std::unique_ptr<DBContext> context = std::make_unique<DBContext>();
  MemoryContext memory;
  std::unordered_map<std::string, std::unique_ptr<KestrunConsumerCenter::ObjectQuery>> objectQueries;
  std::unordered_map<std::string, std::unique_ptr<KestrunConsumerCenter::ConvoItemQuery>> convoQueries;
};

State& state() {
  static State instance;
  return instance;
}

// The commit hook's instance: commits of the data center's contexts land here.
class ConsumerQueryUpdater : public libkestrun::QueryUpdater {
 public:
  void update_queries(ChangeSet changes, bool force) override {
    KestrunConsumerCenter::update_queries(changes, force);
  }
};

// Runs one pass; a throw is logged so that the other queries of the commit still run.
template <class Query>
void run_pass(Query& query, const TableChangeSet& changes) {
  try {
    query.update(changes);
  } catch (const std::exception& e) {
    brelt::log_error("consumer_center", "query " + query.name + " failed: " + e.what());
  } catch (...) {
    brelt::log_error("consumer_center", "query " + query.name + " failed");
  }
}

// The conversation queries' change set: the e-mail ids and the draft ids, key by key.
TableChangeSet conversation_changes(const ChangeSet& changes) {
  TableChangeSet merged;
  auto emails = changes.find("KSEMAIL");
  if (emails != changes.end()) merged = emails->second;
  auto drafts = changes.find("Draft");
  if (drafts != changes.end()) {
    for (const auto& [kind, ids] : drafts->second) merged[kind].insert(ids.begin(), ids.end());
  }
  return merged;
}

}  // namespace

void KestrunConsumerCenter::initialize(brelt::UvThread* thread, const std::string& path,
                                       const std::optional<std::string>& key) {
  State& s = state();
  s.thread = thread;
  patch::code_timer timer("start_consumer_thread");
  auto fresh = std::make_unique<DBContext>();
  std::exception_ptr failure;
  patch::semaphore opened;
  thread->post([&] {
    try {
      fresh->open(path, key);
    } catch (...) {
      failure = std::current_exception();
    }
    opened.notify();
  });
  opened.wait();
  if (failure) std::rethrow_exception(failure);

  std::unique_ptr<DBContext> previous;
  decltype(State::objectQueries) objects;
  decltype(State::convoQueries) convos;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    objects.swap(s.objectQueries);
    convos.swap(s.convoQueries);
    previous = std::exchange(s.context, std::move(fresh));
    s.memory.reset();
  }
  libkestrun::query_updater_set_instance(std::make_shared<ConsumerQueryUpdater>());
}

void KestrunConsumerCenter::resetToDefaultState() {
  // At the lowest priority, so every data task still waiting runs (and is stored) first.
  state().thread->post_low([] {
    State& s = state();
    decltype(State::objectQueries) dropped;
    std::lock_guard<std::mutex> lock(s.mutex);
    dropped.swap(s.objectQueries);
    s.context->reset();
    s.memory.reset();
  });
}

DBContext& KestrunConsumerCenter::getDBContext() { return *state().context; }

void KestrunConsumerCenter::withDBContext(const std::function<void(DBContext&)>& read) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  read(*s.context);
}

void KestrunConsumerCenter::addQuery(const std::string& queryID, const std::string& objectType,
                                     std::unique_ptr<ObjectQuery> query, bool inMemory) {
  State& s = state();
  std::unique_ptr<ObjectQuery> replaced;  // destroyed after the mutex is released
  std::lock_guard<std::mutex> lock(s.mutex);
  query->context = inMemory ? static_cast<KestrunContext*>(&s.memory) : s.context.get();
  query->object_type = objectType;
  query->update();
  replaced = std::exchange(s.objectQueries[queryID], std::move(query));
}

void KestrunConsumerCenter::addConvoItemQuery(const std::string& queryID,
                                              std::unique_ptr<ConvoItemQuery> query) {
  State& s = state();
  std::unique_ptr<ConvoItemQuery> replaced;
  std::lock_guard<std::mutex> lock(s.mutex);
  query->context = s.context.get();
  query->object_type = "CONVO_ITEM";
  query->update();
  replaced = std::exchange(s.convoQueries[queryID], std::move(query));
}

void KestrunConsumerCenter::update_queries(const ChangeSet& changes, bool force) {
  patch::code_timer timer("update_queries");
  State& s = state();
  static const TableChangeSet none;
  std::lock_guard<std::mutex> lock(s.mutex);
  // New objects for every fetch below, while each query's previous rows keep theirs: the change
  // filters compare the two.
  s.context->reset();
  for (auto& [id, query] : s.objectQueries) {
    if (!query->active) continue;
    auto found = changes.find(query->object_type);
    if (found != changes.end()) {
      run_pass(*query, found->second);
    } else if (force) {
      run_pass(*query, none);
    }
  }
  if (!force && changes.count("KSEMAIL") == 0 && changes.count("Draft") == 0) return;
  const TableChangeSet merged = conversation_changes(changes);
  for (auto& [id, query] : s.convoQueries) run_pass(*query, merged);
}

void KestrunConsumerCenter::pauseQuery(const std::string& queryID) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto found = s.objectQueries.find(queryID);
  if (found != s.objectQueries.end()) found->second->active = false;
}

void KestrunConsumerCenter::resumeQuery(const std::string& queryID) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto found = s.objectQueries.find(queryID);
  if (found != s.objectQueries.end()) found->second->active = true;
}

void KestrunConsumerCenter::endQuery(const std::string& queryID) {
  State& s = state();
  std::unique_ptr<ObjectQuery> object;
  std::unique_ptr<ConvoItemQuery> convo;
  std::lock_guard<std::mutex> lock(s.mutex);
  auto found = s.objectQueries.find(queryID);
  if (found != s.objectQueries.end()) {
    object = std::move(found->second);
    s.objectQueries.erase(found);
  }
  auto convoFound = s.convoQueries.find(queryID);
  if (convoFound != s.convoQueries.end()) {
    convo = std::move(convoFound->second);
    s.convoQueries.erase(convoFound);
  }
}
