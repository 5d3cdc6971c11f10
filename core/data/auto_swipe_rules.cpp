#include "core/data/auto_swipe_rules.h"

namespace libkestrun {

std::optional<int64_t> rule_last_action_at(const std::shared_ptr<KestrunObject>&) {
  // Until the rule class exists the model applies no "auto_swipe" document: no rule arrives here.
  return std::nullopt;
}

}  // namespace libkestrun
