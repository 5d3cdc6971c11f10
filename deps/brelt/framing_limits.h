// Bounds on what a server can make the client hold in memory for one frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brelt {

// Largest frame the length decoder accepts, and the most the inflate stage produces from one
// written chunk. Above these a broken or hostile server gets an error, not our memory.
inline constexpr uint32_t kDefaultMaxFrameLength = 64u * 1024 * 1024;
inline constexpr size_t kDefaultMaxInflateOutput = 64u * 1024 * 1024;

}  // namespace brelt
