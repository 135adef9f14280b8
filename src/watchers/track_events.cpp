#include "watchers/track_events.h"

#include <atomic>

#include "host/host.h"
#include "settings/settings.h"
#include "watchers/watcher_control.h"

namespace quarvel {

namespace {

// Tags that tell how many subsongs the track has; the first that the player knows counts.
constexpr int32_t subsong_tag = -5;
constexpr int32_t subsong_tag_fallback = -6;

std::atomic<uint32_t> close_count{0};

// Whether the current track reports subsongs; the tag text goes back to the player at once.
bool track_reports_subsongs() {
    const char* text = host::tag(subsong_tag);
    if (!text) text = host::tag(subsong_tag_fallback);
    const host::Text subsongs(text);
    return subsongs && subsongs.get()[0] != '0';
}

void track_opened() {
    has_subsongs.store(false, std::memory_order_relaxed);
    if (track_reports_subsongs()) has_subsongs.store(true, std::memory_order_relaxed);
    if (get(settings.check_time_limit) != 0) start_time_watcher();
}

void track_closed(ClearDialogLooping clear_dialog_looping) {
    close_count.fetch_add(1);  // odd: an Apply that begins now will not arm looping

    // Looping belonged to the track that closed: clear it in an open dialog too, unsaved
    // edits included.
    stop_loop_watcher();
    clear_dialog_looping();
    host::store_write(keys::check_looping, 0);
    host::store_write(keys::start_loop_time, 0);
    host::store_write(keys::end_loop_time, 0);

    close_count.fetch_add(1);
}

}  // namespace

void new_track(const char* file, ClearDialogLooping clear_dialog_looping) {
    if (file)
        track_opened();
    else
        track_closed(clear_dialog_looping);
}

uint32_t track_close_count() {
    return close_count.load();
}

}  // namespace quarvel
