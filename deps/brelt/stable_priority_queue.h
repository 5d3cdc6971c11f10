// A priority queue that is first in, first out among equal priorities: each entry carries a
// sequence number, and among equal priorities the smaller sequence ranks higher.
//
// Nearly every entry is pushed at the highest or the lowest priority, so those two keep a lane of
// their own in push order (constant time, no comparisons); only the priorities in between go
// through a binary heap. The pop order is the same as one heap over all entries would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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
    const uint64_t sequence = ++counter_;
    if (priority == kHighest) {
      highest_.push_back(std::move(value));
    } else if (priority == kLowest) {
      lowest_.push_back(std::move(value));
    } else {
      heap_.emplace_back(std::move(value), priority, sequence);
      sift_up(heap_.size() - 1);
    }
  }

  const T& top() const {
    if (!highest_.empty()) return highest_.front();
    if (!heap_.empty()) return std::get<0>(heap_.front());
    return lowest_.front();
  }
  T& top() { return const_cast<T&>(static_cast<const stable_priority_queue*>(this)->top()); }

  void pop() {
    if (!highest_.empty()) {
      highest_.pop_front();
    } else if (!heap_.empty()) {
      entry last = std::move(heap_.back());
      heap_.pop_back();
      if (!heap_.empty()) sift_down(std::move(last));
    } else {
      lowest_.pop_front();
    }
  }

  bool empty() const { return highest_.empty() && heap_.empty() && lowest_.empty(); }
  size_t size() const { return highest_.size() + heap_.size() + lowest_.size(); }

  // Sequence number given to the last pushed entry; 0 when new or after take_all().
  uint64_t counter() const { return counter_; }

  // Empties the queue and resets the sequence, handing the entries to the caller (in no
  // particular order; their sequence numbers rank them as they were ranked here) so that they can
  // be destroyed outside whatever lock guards the queue.
  std::vector<entry> take_all() {
    std::vector<entry> taken;
    taken.swap(heap_);
    taken.reserve(taken.size() + highest_.size() + lowest_.size());
    // The lanes do not store sequence numbers; their order is their rank.
    uint64_t sequence = 0;
    for (T& value : highest_) taken.emplace_back(std::move(value), kHighest, ++sequence);
    for (T& value : lowest_) taken.emplace_back(std::move(value), kLowest, ++sequence);
    std::deque<T>().swap(highest_);
    std::deque<T>().swap(lowest_);
    counter_ = 0;
    return taken;
  }

 private:
  // Both sifts move entries into a hole instead of swapping, a third of the moves.
  void sift_up(std::size_t i) {
    highest_priority below;
    entry moving = std::move(heap_[i]);
    while (i > 0) {
      std::size_t parent = (i - 1) / 2;
      if (!below(heap_[parent], moving)) break;
      heap_[i] = std::move(heap_[parent]);
      i = parent;
    }
    heap_[i] = std::move(moving);
  }

  // Places `moving` from the root down, the root's old entry having been taken.
  void sift_down(entry moving) {
    highest_priority below;
    const std::size_t n = heap_.size();
    std::size_t i = 0;
    for (;;) {
      std::size_t left = 2 * i + 1;
      if (left >= n) break;
      std::size_t child = left;
      if (left + 1 < n && below(heap_[left], heap_[left + 1])) child = left + 1;
      if (!below(moving, heap_[child])) break;
      heap_[i] = std::move(heap_[child]);
      i = child;
    }
    heap_[i] = std::move(moving);
  }

  std::deque<T> highest_;    // priority kHighest, oldest first
  std::vector<entry> heap_;  // priorities strictly between, as a binary heap
  std::deque<T> lowest_;     // priority kLowest, oldest first
  uint64_t counter_ = 0;
};

}  // namespace brelt
