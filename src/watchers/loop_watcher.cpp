#include "watchers/loop_watcher.h"

#include "host/host.h"
#include "settings/settings.h"

namespace quarvel {

void loop_pass(CloseStamp armed_for) {
    const int32_t end = get(settings.end_loop_time);
    if (end == 0 || end == get(settings.start_loop_time)) return;  // empty section

    const int32_t position = host::position();
    if (position == -1) return;  // nothing playing

    const int32_t start = get(settings.start_loop_time);
    // Widened so that a position near the 32-bit limit cannot wrap.
    const bool too_early = int64_t{position} + loop_lead_tolerance_ms <= int64_t{start};
    if ((position >= end || too_early) && same_track(armed_for)) host::jump_to(start);
}

}  // namespace quarvel
