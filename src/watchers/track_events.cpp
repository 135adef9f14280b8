#include "watchers/track_events.h"

#include "dialog/controls.h"
#include "host/host.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "watchers/watcher_control.h"

namespace quarvel {

namespace {

// Tags that tell how many subsongs the track has; the first that the player knows counts.
constexpr int32_t subsong_tag = -5;
constexpr int32_t subsong_tag_fallback = -6;

void track_opened() {
    has_subsongs.store(false, std::memory_order_relaxed);

    const char* text = host::tag(subsong_tag);
    if (!text) text = host::tag(subsong_tag_fallback);
    const host::Text subsongs(text);
    if (subsongs && subsongs.get()[0] != '0') has_subsongs.store(true, std::memory_order_relaxed);

    if (get(settings.check_time_limit) != 0) start_time_watcher();
}

void track_closed() {
    stop_loop_watcher();

    // Looping belonged to the track that closed: clear it in an open dialog too, unsaved
    // edits included.
    if (controls::Dialog dialog = controls::find_open_dialog()) {
        controls::set_checked(dialog, IDC_LOOP_ENABLE, false);
        controls::set_text(dialog, IDC_LOOP_START, L"0");
        controls::set_text(dialog, IDC_LOOP_END, L"0");
    }

    host::store_write(keys::check_looping, 0);
    host::store_write(keys::start_loop_time, 0);
    host::store_write(keys::end_loop_time, 0);
}

}  // namespace

void new_track(const char* file) {
    if (file)
        track_opened();
    else
        track_closed();
}

}  // namespace quarvel
