#include "watchers/loop_watcher.h"

#include "host/host.h"
#include "settings/settings.h"

namespace quarvel {

namespace {

// Whether playback at `position` lies outside the section from `start` to `end`.
bool calls_for_jump(int32_t position, int32_t start, int32_t end) {
    if (position == -1) return false;  // nothing playing
    // Widened so that a position near the 32-bit limit cannot wrap.
    const bool too_early = int64_t{position} + loop_lead_tolerance_ms <= int64_t{start};
    return position >= end || too_early;
}

}  // namespace

void loop_pass(CloseStamp armed_for) {
    const int32_t end = get(settings.end_loop_time);
    if (end == 0 || end == get(settings.start_loop_time)) return;  // empty section

    const int32_t position = host::position();
    const int32_t start = get(settings.start_loop_time);
    if (!calls_for_jump(position, start, end)) return;
    // While its output stops, XMPlay answers a position ahead of what it played: jump only where
    // it says it plays, and the position read after that answer still lies outside.
    if (!host::output_playing() || !calls_for_jump(host::position(), start, end)) return;
    if (same_track(armed_for)) host::jump_to(start);
}

}  // namespace quarvel
