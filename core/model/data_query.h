// Live queries: a named, ordered result that stays current. A query fetches its rows from a
// context and hands them to its observer; after every commit that touched its table it fetches
// again and reports the difference to the previous rows as ordered changes (removals, insertions,
// updates; a row that moved is a removal of type MovedOut plus an insertion of type MovedIn).
//
// Rows are either shared model objects (id functor KestrunId) or conversation rows; the id
// functor gives the string by which two results are matched.
//
// Threads: a query has no lock. The consumer center runs every pass, and so every observer call,
// under its own mutex: the first pass on the registering thread, later passes on the core thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/model/change_set.h"
#include "core/model/query_changes.h"
#include "core/model/kestrun_context.h"

namespace libkestrun {

// Receives one query's results. Every call names the query.
template <class T>
class DataQueryObserver {
 public:
  virtual ~DataQueryObserver() = default;
  // The complete new rows; the vector belongs to the query and stays valid until the query's
  // next change.
  virtual void set_results(const std::string& name, const std::vector<T>& rows) = 0;
  virtual void begin_changes(const std::string& name) = 0;
  // One row that left, entered or changed; an index of -1 means none.
  virtual void item_changed(const std::string& name, T row, ConsumerChangeType type, int old_index,
                            int new_index) = 0;
  virtual void end_changes(const std::string& name) = 0;
};

template <class T, class IdFn>
class DataQuery {
 public:
  using Rows = std::shared_ptr<std::vector<T>>;
  // True when the first row comes before the second; must agree with the fetch's order.
  using Ordering = std::function<bool(const T&, const T&)>;
  // (old row, new row) of one id: true when the row changed in a way the user sees.
  using ChangeFilter = std::function<bool(const T&, const T&)>;

  DataQuery(std::string query_name, Ordering query_ordering, ChangeFilter filter,
            std::shared_ptr<DataQueryObserver<T>> query_observer)
      : name(std::move(query_name)),
        ordering(std::move(query_ordering)),
        change_filter(std::move(filter)),
        observer(std::move(query_observer)) {}
  DataQuery(const DataQuery&) = delete;
  DataQuery& operator=(const DataQuery&) = delete;
  virtual ~DataQuery() = default;

  // The current rows, sorted by `ordering`; never null.
  virtual Rows fetch(KestrunContext& context) = 0;

  // First pass: fetch and hand over the rows with set_results alone.
  void update() {
    Rows rows = fetch(*context);
    results = rows;
    observer->set_results(name, *rows);
  }

  // Incremental pass after a commit of `changes` to this query's table. A pass that finds no
  // change tells the observer nothing and keeps the old rows. A throw from the fetch, the
  // ordering or the filter leaves the rows and the observer untouched.
  void update(const TableChangeSet& changes) {
    static const std::vector<T> none;
    Rows fresh = fetch(*context);
    const std::vector<T>& previous = results ? *results : none;
    ChangeSpec spec = _calc_changes(changes, previous, *fresh, ordering, change_filter);
    if (spec.empty()) return;

    // The old rows stay alive here while the removals are reported; the query already holds
    // the rows the observer is about to be given.
    Rows old = std::exchange(results, fresh);
    const std::vector<T>& before = old ? *old : none;
    observer->begin_changes(name);
    observer->set_results(name, *fresh);
    for (auto it = spec.removals.rbegin(); it != spec.removals.rend(); ++it) {
      observer->item_changed(name, before[it->second], it->first, it->second, -1);
    }
    for (const auto& [type, index] : spec.insertions) {
      observer->item_changed(name, (*fresh)[index], type, -1, index);
    }
    for (const auto& [old_index, new_index] : spec.updates) {
      observer->item_changed(name, (*fresh)[new_index], ConsumerChangeType::Update, old_index, new_index);
    }
    observer->end_changes(name);
  }

  // One merge walk over both sorted results plus one pass over the new rows. Rows whose ids are
  // equal at the two cursors stay; otherwise the row that comes first by `order` is taken (the
  // new one when neither does). A row taken from both sides is a move; a row that stayed is an
  // update only when its id is in `changes` (any kind) and `filter` passes. Duplicate old ids
  // match their first occurrence.
  template <class Order, class Filter>
  static ChangeSpec _calc_changes(const TableChangeSet& changes, const std::vector<T>& old_rows,
                                  const std::vector<T>& new_rows, Order order, const Filter& filter) {
    IdFn id_of;
    std::unordered_set<std::string> changed;
    for (ConsumerChangeType kind :
         {ConsumerChangeType::Insert, ConsumerChangeType::Update, ConsumerChangeType::Delete}) {
      auto found = changes.find(kind);
      if (found != changes.end()) changed.insert(found->second.begin(), found->second.end());
    }

    ChangeSpec spec;
    std::unordered_map<std::string, size_t> removed_at;
    std::unordered_map<std::string, size_t> inserted_at;
    size_t i = 0;
    size_t j = 0;
    while (i < old_rows.size() || j < new_rows.size()) {
      bool take_old;
      if (j == new_rows.size()) {
        take_old = true;
      } else if (i == old_rows.size()) {
        take_old = false;
      } else {
        std::string old_id = id_of(old_rows[i]);
        if (old_id == id_of(new_rows[j])) {
          ++i;
          ++j;
          continue;
        }
        take_old = order(old_rows[i], new_rows[j]);
      }
      if (take_old) {
        std::string id = id_of(old_rows[i]);
        changed.erase(id);
        removed_at.emplace(id, spec.removals.size());
        auto inserted = inserted_at.find(id);
        if (inserted != inserted_at.end()) {
          spec.insertions[inserted->second].first = ConsumerChangeType::MovedIn;
          spec.removals.emplace_back(ConsumerChangeType::MovedOut, static_cast<int>(i));
        } else {
          spec.removals.emplace_back(ConsumerChangeType::Delete, static_cast<int>(i));
        }
        ++i;
      } else {
        std::string id = id_of(new_rows[j]);
        changed.erase(id);
        inserted_at.emplace(id, spec.insertions.size());
        auto removed = removed_at.find(id);
        if (removed != removed_at.end()) {
          spec.removals[removed->second].first = ConsumerChangeType::MovedOut;
          spec.insertions.emplace_back(ConsumerChangeType::MovedIn, static_cast<int>(j));
        } else {
          spec.insertions.emplace_back(ConsumerChangeType::Insert, static_cast<int>(j));
        }
        ++j;
      }
    }

    if (changed.empty()) return spec;
    std::unordered_map<std::string, size_t> old_index;
    old_index.reserve(old_rows.size());
    for (size_t k = 0; k < old_rows.size(); ++k) old_index.emplace(id_of(old_rows[k]), k);
    for (size_t k = 0; k < new_rows.size(); ++k) {
      std::string id = id_of(new_rows[k]);
      if (changed.count(id) == 0) continue;
      auto found = old_index.find(id);
      if (found == old_index.end()) continue;
      if (filter(old_rows[found->second], new_rows[k])) {
        spec.updates.emplace_back(static_cast<int>(found->second), static_cast<int>(k));
      }
    }
    return spec;
  }

  // Set by the consumer center at registration; not owned.
  KestrunContext* context = nullptr;
  // The table whose commits re-run the query ("CONVO_ITEM" for conversation queries).
  std::string object_type;
  // Cleared while the query is paused.
  bool active = true;
  const std::string name;
  const Ordering ordering;
  const ChangeFilter change_filter;
  const std::shared_ptr<DataQueryObserver<T>> observer;
  // The rows last handed to the observer; null until the first pass.
  Rows results;
};

// A query whose fetch is a function of (query name, context).
template <class T, class IdFn>
class FnDataQuery : public DataQuery<T, IdFn> {
 public:
  using Base = DataQuery<T, IdFn>;
  using FetchFn = std::function<typename Base::Rows(const std::string&, KestrunContext&)>;

  FnDataQuery(std::string name, FetchFn fetch, typename Base::Ordering ordering,
              typename Base::ChangeFilter filter, std::shared_ptr<DataQueryObserver<T>> observer)
      : Base(std::move(name), std::move(ordering), std::move(filter), std::move(observer)),
        fetch_fn(std::move(fetch)) {}
  // Every row that kept its id is visible when it changed.
  FnDataQuery(std::string name, FetchFn fetch, typename Base::Ordering ordering,
              std::shared_ptr<DataQueryObserver<T>> observer)
      : FnDataQuery(
            std::move(name), std::move(fetch), std::move(ordering), [](const T&, const T&) { return true; },
            std::move(observer)) {}

  typename Base::Rows fetch(KestrunContext& context) override { return fetch_fn(this->name, context); }

  const FetchFn fetch_fn;
};

// The query of model objects, the common instance.
using ObjectQuery = DataQuery<std::shared_ptr<KestrunObject>, KestrunId>;
using FnObjectQuery = FnDataQuery<std::shared_ptr<KestrunObject>, KestrunId>;
using ObjectQueryObserver = DataQueryObserver<std::shared_ptr<KestrunObject>>;

}  // namespace libkestrun
