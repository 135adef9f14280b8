#include "watchers/track_events.h"

#include "host/host.h"
#include "settings/settings.h"
#include "settings/shared_word.h"
#include "watchers/watcher_control.h"

namespace quarvel {

namespace {

// Tags that tell how many subsongs the track has; the first that the player knows counts.
constexpr int32_t subsong_tag = -5;
constexpr int32_t subsong_tag_fallback = -6;

// Bits 0-7 count the closes under way (a player may deliver two at once, on two threads),
// bits 8-31 the closes begun; both wrap in unsigned arithmetic.
constexpr CloseStamp close_under_way = 1u;
constexpr CloseStamp under_way_mask = 0xFFu;
constexpr CloseStamp close_begun = 0x100u;
Shared<CloseStamp> closes{0};

// Whether the current track reports subsongs; the tag text goes back to the player at once.
bool track_reports_subsongs() {
    const char* text = host::tag(subsong_tag);
    if (!text) text = host::tag(subsong_tag_fallback);
    const host::Text subsongs(text);
    return subsongs && subsongs.get()[0] != '0';
}

bool time_limit_on() {
    return get(settings.check_time_limit) != 0;
}

// Apply may clear the time limit's box on another thread at any moment, storing 0 and then
// stopping the time watcher; that stop may come before the start here. So the box is read
// again after every start or stop, until what was done last agrees with it: Apply, which
// always stores before it starts or stops, then leaves the watcher as its box says.
void start_time_watcher_while_on() {
    if (!time_limit_on()) return;
    for (;;) {
        start_time_watcher();
        if (time_limit_on()) return;
        stop_time_watcher();
        if (!time_limit_on()) return;
    }
}

void track_opened() {
    has_subsongs.store(false, std::memory_order_relaxed);
    if (track_reports_subsongs()) has_subsongs.store(true, std::memory_order_relaxed);
    start_time_watcher_while_on();
}

void track_closed(ClearDialogLooping clear_dialog_looping) {
    // From here on no loop watcher begins a pass, and every dialog handler that is under way
    // undoes what it did for looping.
    closes.fetch_add(close_begun + close_under_way);

    // Looping belonged to the track that closed: clear it in an open dialog too, unsaved
    // edits included.
    stop_loop_watcher();
    clear_dialog_looping();
    host::store_write(keys::check_looping, 0);
    host::store_write(keys::start_loop_time, 0);
    host::store_write(keys::end_loop_time, 0);

    closes.fetch_sub(close_under_way);
}

}  // namespace

void new_track(const char* file, ClearDialogLooping clear_dialog_looping) {
    if (file)
        track_opened();
    else
        track_closed(clear_dialog_looping);
}

CloseStamp track_close_stamp() {
    return closes.load();
}

bool same_track(CloseStamp stamp) {
    return (stamp & under_way_mask) == 0 && closes.load() == stamp;
}

}  // namespace quarvel
