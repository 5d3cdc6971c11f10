// A priority queue that is first in, first out among equal priorities: each entry carries a
// sequence number, and among equal priorities the smaller sequence ranks higher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

namespace brelt {

template <class T>
class stable_priority_queue {
 public:
  using entry = std::tuple<T, uint64_t, uint64_t>;  // value, priority, sequence

  static constexpr uint64_t kHighest = std::numeric_limits<uint64_t>::max();
  static constexpr uint64_t kLowest = 0;

  // Orders entries so that the heap's top is the highest priority, pushed first.
  struct highest_priority {
    bool operator()(const entry& a, const entry& b) const {
      if (std::get<1>(a) != std::get<1>(b)) return std::get<1>(a) < std::get<1>(b);
      return std::get<2>(a) > std::get<2>(b);
    }
  };

  void push_high(T value) { push_custom(std::move(value), kHighest); }
  void push_low(T value) { push_custom(std::move(value), kLowest); }

  void push_custom(T value, uint64_t priority) {
    entries_.emplace_back(std::move(value), priority, ++counter_);
    sift_up(entries_.size() - 1);
  }

  const T& top() const { return std::get<0>(entries_.front()); }
  T& top() { return std::get<0>(entries_.front()); }

  void pop() {
    entry last = std::move(entries_.back());
    entries_.pop_back();
    if (!entries_.empty()) sift_down(std::move(last));
  }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

  // Sequence number given to the last pushed entry; 0 when new or after take_all().
  uint64_t counter() const { return counter_; }

  // Empties the queue and resets the sequence, handing the entries to the caller so that they
  // can be destroyed outside whatever lock guards the queue.
  std::vector<entry> take_all() {
    std::vector<entry> taken;
    taken.swap(entries_);
    counter_ = 0;
    return taken;
  }

 private:
  // Both sifts move entries into a hole instead of swapping, a third of the moves.
  void sift_up(std::size_t i) {
    highest_priority below;
    entry moving = std::move(entries_[i]);
    while (i > 0) {
      std::size_t parent = (i - 1) / 2;
      if (!below(entries_[parent], moving)) break;
      entries_[i] = std::move(entries_[parent]);
      i = parent;
    }
    entries_[i] = std::move(moving);
  }

  // Places `moving` from the root down, the root's old entry having been taken.
  void sift_down(entry moving) {
    highest_priority below;
    const std::size_t n = entries_.size();
    std::size_t i = 0;
    for (;;) {
      std::size_t left = 2 * i + 1;
      if (left >= n) break;
      std::size_t child = left;
      if (left + 1 < n && below(entries_[left], entries_[left + 1])) child = left + 1;
      if (!below(moving, entries_[child])) break;
      entries_[i] = std::move(entries_[child]);
      i = child;
    }
    entries_[i] = std::move(moving);
  }

  std::vector<entry> entries_;
  uint64_t counter_ = 0;
};

}  // namespace brelt
