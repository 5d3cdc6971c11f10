#include "core/data/auto_swipe_rules.h"

#include "core/model/ks_auto_swipe.h"

namespace libkestrun {

std::optional<int64_t> rule_last_action_at(const std::shared_ptr<KestrunObject>& rule) {
  auto applied = std::dynamic_pointer_cast<KSAutoSwipe>(rule);
  if (!applied) return std::nullopt;
  return applied->lastActionAt();
}

}  // namespace libkestrun
