// The data center's view of an applied auto-swipe rule.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "core/model/kestrun_object.h"

namespace libkestrun {

// The last-action time of a rule that a rules document applied; nothing when none was applied.
std::optional<int64_t> rule_last_action_at(const std::shared_ptr<KestrunObject>& rule);

}  // namespace libkestrun
