// The registry of live queries and the owner of the core's read side of the local database.
//
// The consumer center keeps its own database context (the consumer context, a second connection
// to the database file) and its own memory context; every live query fetches through one of them.
// After every commit of the data center's contexts the committing context calls update_queries
// (through the commit hook of query_updater.h, which initialize installs) and the queries whose
// table changed run again and notify their observers.
//
// There are no instances: the operations are static over state of this unit.
//
// Threads and the consumer mutex. One mutex guards both registries, every query with its
// observer calls, and the consumer contexts. The registering thread takes it to add (running the
// first pass there), pause, resume and end a query; the core thread takes it to re-run queries
// after a commit and to reset. Threads other than the core thread read the consumer context only
// through withDBContext, which holds the mutex for the read; getDBContext is for the core thread.
// Lock order: the consumer mutex is taken inside a data task's commit, never the other way round;
// observers must not call back into the consumer center.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "brelt/uv_thread.h"
#include "core/model/change_set.h"
#include "core/model/data_query.h"
#include "core/model/db_context.h"
#include "core/model/ks_convo_item.h"
#include "core/model/memory_context.h"

class KestrunConsumerCenter {
 public:
  using ObjectQuery = libkestrun::DataQuery<std::shared_ptr<KestrunObject>, libkestrun::KestrunId>;
  using ConvoItemQuery = libkestrun::DataQuery<KSConvoItem, KSConvoItem::GetId>;

  // Opens a new consumer context on `thread` (the core thread) and waits for it; installs the
  // commit hook. Any query registered before is dropped. Throws the store's error when the open
  // fails. Never call it on the core thread.
  static void initialize(brelt::UvThread* thread, const std::string& path,
                         const std::optional<std::string>& key);

  // Teardown: queued behind all waiting work (nothing queued is dropped), a closure empties the
  // object-query registry and resets both consumer contexts. Conversation queries stay.
  static void resetToDefaultState();

  // The consumer context, for the core thread.
  static DBContext& getDBContext();
  // Runs `read` on the calling thread with the consumer context while holding the consumer
  // mutex, so that it never overlaps a query pass.
  static void withDBContext(const std::function<void(DBContext&)>& read);

  // Points the query at the consumer context (the consumer memory context when `inMemory`), sets
  // its object type ("KSITEM", "KSEMAIL", "KSCONTACT", "KSLIST", "KSAUTOSWIPE"), runs its first
  // pass on this thread and stores it under `queryID`, destroying a query stored there before. A
  // first pass that throws stores nothing and propagates.
  static void addQuery(const std::string& queryID, const std::string& objectType,
                       std::unique_ptr<ObjectQuery> query, bool inMemory);
  // The same for a conversation query: consumer context, object type "CONVO_ITEM".
  static void addConvoItemQuery(const std::string& queryID, std::unique_ptr<ConvoItemQuery> query);

  // After a commit, on the core thread: empties the consumer context's object cache, then runs
  // every active object query whose table is in `changes` with that table's change set, and
  // every conversation query when "KSEMAIL" or "Draft" changed, with the two merged. `force`
  // runs every active query. A pass that throws is logged and the other queries still run.
  static void update_queries(const libkestrun::ChangeSet& changes, bool force);

  // Pausing clears an object query's `active` flag, so it misses commits until it is resumed;
  // its next pass then compares with the rows from before the pause. Unknown ids do nothing.
  static void pauseQuery(const std::string& queryID);
  static void resumeQuery(const std::string& queryID);
  // Destroys the object or conversation query under the id; its observer hears nothing more.
  static void endQuery(const std::string& queryID);
};
