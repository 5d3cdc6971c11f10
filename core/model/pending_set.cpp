#include "core/model/pending_set.h"

#include <utility>

void PendingSet::add(const std::shared_ptr<KestrunObject>& object) {
  if (contains(object.get())) return;
  index_.emplace(object.get(), order_.insert(order_.end(), object));
}

void PendingSet::remove(const KestrunObject* object) {
  auto found = index_.find(object);
  if (found == index_.end()) return;
  order_.erase(found->second);
  index_.erase(found);
}

std::vector<std::shared_ptr<KestrunObject>> PendingSet::take() {
  std::vector<std::shared_ptr<KestrunObject>> objects(std::make_move_iterator(order_.begin()),
                                                      std::make_move_iterator(order_.end()));
  clear();
  return objects;
}

void PendingSet::clear() {
  index_.clear();
  order_.clear();
}
