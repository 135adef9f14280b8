#pragma once

#include <cstdint>

namespace quarvel {

// Playback this far or further before the section's start is pulled back into it.
inline constexpr int32_t loop_lead_tolerance_ms = 500;

// One check of the looped section: jump back to its start when playback has reached its
// end or lies too far before it. The watcher thread runs it every millisecond.
void loop_pass();

}  // namespace quarvel
