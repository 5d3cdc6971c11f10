// One change of a user's draft as the server reports it: a new state of the draft, or its removal.
// Batches of them are applied to the store by the data center.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "core/store/draft.h"

namespace libkestrun {

struct DraftUpdate {
  std::string draft_id;
  bool removed = false;
  // The draft's new state; empty for a removal.
  std::optional<internal::Draft> draft;

  // The draft changed: a copy of it under its own id.
  explicit DraftUpdate(const internal::Draft& changed)
      : draft_id(changed.get_draft_id()), removed(false), draft(changed) {}

  // The draft with that id was removed.
  static DraftUpdate removal(std::string removed_id) { return DraftUpdate(std::move(removed_id)); }

 private:
  explicit DraftUpdate(std::string removed_id) : draft_id(std::move(removed_id)), removed(true) {}
};

}  // namespace libkestrun
