// The inbox as a user sees it, printed from the core's live queries: a header per account with
// its count, a row per conversation (unread mark, sender, subject, time), the deferred items in
// their sections, and every change a query reports once it has been shown.
//
// Threads: a query calls its observer first on the thread that registers it and afterwards on the
// core thread, always under the consumer center's lock; `mutex_` guards what the main thread waits
// for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/model/data_query.h"
#include "core/model/kestrun_object.h"
#include "core/model/ks_item.h"
#include "core/model/section_adapter.h"

namespace kestrun_run {

using Row = std::shared_ptr<KestrunObject>;

// " * " for an unread conversation, then the sender, the subject and the time of its newest
// message ("14:05" today, "3 Dec" before).
std::string row_text(const KSItem& item);

// The count as the inbox header shows it: exact ("97"), or rounded and marked ("about 1,200").
std::string count_text(int count, bool exact);

// The observer of one item list: prints its rows on request and each batch of changes as it
// arrives.
class ListPrinter : public libkestrun::DataQueryObserver<Row> {
 public:
  void set_results(const std::string& name, const std::vector<Row>& rows) override;
  void begin_changes(const std::string& name) override;
  void item_changed(const std::string& name, Row row, libkestrun::ConsumerChangeType type, int old_index,
                    int new_index) override;
  void end_changes(const std::string& name) override;

  // Prints the first `shown` rows and how many more there are.
  void print_rows(size_t shown);
  // The first row's id, or "" for an empty list.
  std::string first_id();
  // The batches of changes reported so far.
  int batches();
  // Waits until `count` batches have been reported; false when `deadline` passed first.
  bool wait_for_batches(int count, std::chrono::milliseconds deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Row> rows_;  // guarded by mutex_
  int batches_ = 0;        // guarded by mutex_
};

// The observer of the deferred items: prints each section with its title and rows.
class DeferralPrinter : public libkestrun::SectionQueryObserver<KSItem::DeferralSection, Row> {
 public:
  void set_results(const std::string& name, const Sections& sections) override;
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, Row, libkestrun::ConsumerChangeType, libkestrun::SectionPosition,
                    libkestrun::SectionPosition) override {}
  void section_changed(const std::string&, const KSItem::DeferralSection&, libkestrun::ConsumerChangeType,
                       int, int) override {}
  void end_changes(const std::string&) override {}
};

}  // namespace kestrun_run
