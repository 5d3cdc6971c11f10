// An observer of a query of model objects that forwards each call to a callback, for callers
// that hand over four functions instead of an observer object.
//
// Threads: called by its query under the consumer center's mutex; keeps no lock of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/model/data_query.h"

namespace libkestrun {

class FnDataQueryObserver : public DataQueryObserver<std::shared_ptr<KestrunObject>> {
 public:
  using Row = std::shared_ptr<KestrunObject>;
  using ResultsFn = std::function<void(const std::string&, const std::vector<Row>&)>;
  using BeginFn = std::function<void(const std::string&)>;
  using ChangeFn = std::function<void(const std::string&, Row, ConsumerChangeType, int, int)>;
  using EndFn = std::function<void(const std::string&)>;

  FnDataQueryObserver(ResultsFn results, BeginFn begin, ChangeFn change, EndFn end)
      : results_(std::move(results)),
        begin_(std::move(begin)),
        change_(std::move(change)),
        end_(std::move(end)) {}

  void set_results(const std::string& name, const std::vector<Row>& rows) override { results_(name, rows); }
  void begin_changes(const std::string& name) override { begin_(name); }
  void item_changed(const std::string& name, Row row, ConsumerChangeType type, int old_index,
                    int new_index) override {
    change_(name, std::move(row), type, old_index, new_index);
  }
  void end_changes(const std::string& name) override { end_(name); }

 private:
  const ResultsFn results_;
  const BeginFn begin_;
  const ChangeFn change_;
  const EndFn end_;
};

}  // namespace libkestrun
