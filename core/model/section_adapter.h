// Sections over a flat query: consecutive rows with the same section key form one section (a key
// that comes back after another opens a second section with that key). The adapter translates
// every flat index into a (section, row) position, splits an update whose position changed into a
// move, derives section insertions and deletions, and forwards all of it to a sectioned observer.
// The deferred list, grouped by deferral bucket, is the one sectioned query.
//
// For one incremental pass the sectioned observer sees: begin_changes, set_results with the new
// sections, the translated item_changed calls, the section_changed calls, end_changes. A first
// pass gives set_results alone.
//
// Threads: called by its query under the consumer center's mutex; keeps no lock of its own.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/model/data_query.h"

namespace libkestrun {

// (section index, row index within the section); (-1, -1) means none.
using SectionPosition = std::pair<int, int>;

template <class Key, class T>
class SectionQueryObserver {
 public:
  using Sections = std::vector<std::pair<Key, std::vector<T>>>;

  virtual ~SectionQueryObserver() = default;
  virtual void set_results(const std::string& name, const Sections& sections) = 0;
  virtual void begin_changes(const std::string& name) = 0;
  virtual void item_changed(const std::string& name, T row, ConsumerChangeType type,
                            SectionPosition old_position, SectionPosition new_position) = 0;
  // `type` is Insert or Delete; -1 means none.
  virtual void section_changed(const std::string& name, const Key& key, ConsumerChangeType type,
                               int old_index, int new_index) = 0;
  virtual void end_changes(const std::string& name) = 0;
};

// KeyFn gives a row's section key, Ordering is the query's row ordering, Equal compares keys.
template <class Key, class T, class KeyFn, class Ordering, class Equal>
class SectionQueryObserverAdapter : public DataQueryObserver<T> {
 public:
  using Wrapped = SectionQueryObserver<Key, T>;
  using Sections = typename Wrapped::Sections;

  explicit SectionQueryObserverAdapter(std::unique_ptr<Wrapped> wrapped) : wrapped_(std::move(wrapped)) {}

  void set_results(const std::string& name, const std::vector<T>& rows) override {
    old_positions_.swap(new_positions_);
    new_positions_.clear();
    old_sections_.swap(new_sections_);
    new_sections_.clear();
    new_positions_.reserve(rows.size());
    new_sections_.reserve(old_sections_.size());

    KeyFn key_of;
    Equal equal;
    for (const T& row : rows) {
      Key key = key_of(row);
      if (new_sections_.empty() || !equal(new_sections_.back().first, key)) {
        new_sections_.emplace_back(std::move(key), std::vector<T>());
      }
      auto& section = new_sections_.back().second;
      new_positions_.emplace_back(static_cast<int>(new_sections_.size()) - 1,
                                  static_cast<int>(section.size()));
      section.push_back(row);
    }
    wrapped_->set_results(name, new_sections_);
  }

  void begin_changes(const std::string& name) override { wrapped_->begin_changes(name); }

  void item_changed(const std::string& name, T row, ConsumerChangeType type, int old_index,
                    int new_index) override {
    const SectionPosition none{-1, -1};
    SectionPosition from = position(old_positions_, old_index);
    SectionPosition to = position(new_positions_, new_index);
    if (type == ConsumerChangeType::Update && (from != to || !sameKey(from, to))) {
      wrapped_->item_changed(name, row, ConsumerChangeType::MovedOut, from, none);
      wrapped_->item_changed(name, std::move(row), ConsumerChangeType::MovedIn, none, to);
      return;
    }
    wrapped_->item_changed(name, std::move(row), type, from, to);
  }

  // One merge walk over the old and new sections: equal keys at both cursors are kept; else the
  // old section goes when its last row comes before the new section's first row, or when no new
  // section is left; otherwise the new section arrives.
  void end_changes(const std::string& name) override {
    Ordering before;
    Equal equal;
    size_t i = 0;
    size_t j = 0;
    while (i < old_sections_.size() || j < new_sections_.size()) {
      const bool both = i < old_sections_.size() && j < new_sections_.size();
      if (both && equal(old_sections_[i].first, new_sections_[j].first)) {
        ++i;
        ++j;
      } else if (j == new_sections_.size() ||
                 (both && before(old_sections_[i].second.back(), new_sections_[j].second.front()))) {
        wrapped_->section_changed(name, old_sections_[i].first, ConsumerChangeType::Delete,
                                  static_cast<int>(i), -1);
        ++i;
      } else {
        wrapped_->section_changed(name, new_sections_[j].first, ConsumerChangeType::Insert, -1,
                                  static_cast<int>(j));
        ++j;
      }
    }
    wrapped_->end_changes(name);
  }

 private:
  static SectionPosition position(const std::vector<SectionPosition>& positions, int index) {
    if (index < 0 || static_cast<size_t>(index) >= positions.size()) return {-1, -1};
    return positions[static_cast<size_t>(index)];
  }

  // Whether the old section at `from` and the new section at `to` carry the same key.
  bool sameKey(SectionPosition from, SectionPosition to) const {
    if (from.first < 0 || to.first < 0) return from.first == to.first;
    return Equal()(old_sections_[static_cast<size_t>(from.first)].first,
                   new_sections_[static_cast<size_t>(to.first)].first);
  }

  std::vector<SectionPosition> old_positions_;
  std::vector<SectionPosition> new_positions_;
  Sections old_sections_;
  Sections new_sections_;
  const std::unique_ptr<Wrapped> wrapped_;
};

}  // namespace libkestrun
