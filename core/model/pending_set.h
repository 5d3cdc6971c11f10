// The objects a context saves at its next commit, in the order they first joined, each once.
// A commit walks them in that order, so a batch that changes and then removes objects ends the
// same way on every run. Belongs to the core thread like its context.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/model/kestrun_object.h"

class PendingSet {
 public:
  // Appends the object unless it is already there (then its place is kept).
  void add(const std::shared_ptr<KestrunObject>& object);
  void remove(const KestrunObject* object);
  bool contains(const KestrunObject* object) const { return index_.count(object) != 0; }
  bool empty() const { return order_.empty(); }
  size_t size() const { return order_.size(); }
  // The objects in joining order, leaving the set empty.
  std::vector<std::shared_ptr<KestrunObject>> take();
  void clear();

 private:
  using Order = std::list<std::shared_ptr<KestrunObject>>;
  Order order_;
  std::unordered_map<const KestrunObject*, Order::iterator> index_;
};
