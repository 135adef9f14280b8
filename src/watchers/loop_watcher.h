#pragma once

#include <cstdint>

#include "watchers/track_events.h"

namespace quarvel {

// Playback this far or further before the section's start is pulled back into it.
inline constexpr int32_t loop_lead_tolerance_ms = 500;

// One check of the looped section: jump back to its start when the playback the player plays
// has reached its end or lies too far before it. The watcher thread runs it every millisecond, for
// looping armed at `armed_for`: a pass whose position question a track close overtook (the player
// answers it for the next track) sends no jump.
void loop_pass(CloseStamp armed_for);

}  // namespace quarvel
