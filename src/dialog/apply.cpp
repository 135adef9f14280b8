#include "dialog/apply.h"

#include <cstdlib>
#include <limits>
#include <memory>

#include "dialog/dialog_actions.h"
#include "dialog/number_text.h"
#include "host/host.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "watchers/track_events.h"
#include "watchers/watcher_control.h"

namespace quarvel {

namespace {

constexpr int32_t largest = std::numeric_limits<int32_t>::max();

std::optional<int32_t> field_number(controls::Dialog dialog, int id) {
    constexpr size_t room = 64;
    wchar_t text[room];
    const size_t length = controls::read_text(dialog, id, text, room);
    if (length < room) return parse_field_number(text);

    // A longer text (leading zeros, say) is read whole. Without room for it, it counts as
    // a number too large.
    if (length >= std::numeric_limits<size_t>::max() / sizeof(wchar_t) - 1) return std::nullopt;
    const std::unique_ptr<wchar_t, void (*)(void*)> whole(
        static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t))), std::free);
    if (!whole) return std::nullopt;
    controls::read_text(dialog, id, whole.get(), length + 1);
    return parse_field_number(whole.get());
}

int32_t flag(controls::Dialog dialog, int box) {
    return controls::is_checked(dialog, box) ? 1 : 0;
}

void show_and_store(controls::Dialog dialog, int field, Shared<int32_t>& slot, const char* key,
                    int32_t value) {
    controls::set_text(dialog, field, format_signed_decimal(value).c_str());
    store_setting(key, slot, value);
}

// A track closed while Apply ran (or was closing when it began): whatever Apply showed, stored
// or armed for looping belonged to that track, and may have come after the close's own reset
// and zeros. The time limit runs on as if looping had been refused.
void undo_looping(controls::Dialog dialog, int32_t check_time_limit) {
    reset_looping_controls(dialog);
    stop_loop_watcher();
    host::store_write(keys::check_looping, 0);
    host::store_write(keys::start_loop_time, 0);
    host::store_write(keys::end_loop_time, 0);
    if (check_time_limit) start_time_watcher();
}

// The current track's length in milliseconds, -1 while nothing plays. XMPlay answers the
// length in milliseconds with -1 and tells whole seconds instead: the track may then last up
// to the end of its last second, so that a section ending within it is kept.
int32_t track_length_ms() {
    const int32_t ms = host::track_length();
    if (ms >= 0) return ms;
    const int32_t seconds = host::track_seconds();
    if (seconds < 0) return ms;
    constexpr int32_t last_ms_of_a_second = 999;
    if (seconds > (largest - last_ms_of_a_second) / 1000) return largest;
    return seconds * 1000 + last_ms_of_a_second;
}

}  // namespace

LoopSection correct_loop_section(std::optional<int32_t> start, std::optional<int32_t> end,
                                 int32_t length) {
    // A number too large for a time lies at or beyond any track's end.
    LoopSection s{};
    s.start = start && *start < length ? *start : 0;
    s.end = end && *end < length && *end >= s.start ? *end : s.start;
    return s;
}

bool loop_section_usable(const LoopSection& section) {
    return section.start != 0 && section.start != section.end;
}

void apply_dialog(controls::Dialog dialog) {
    // Looping is armed only for the track playing now: what a close under way or begun before
    // the end does to the dialog and the store is made again at the end (undo_looping).
    const CloseStamp began = begin_loop_handler(dialog);

    // The limit and the subsong option reach Settings before a time watcher is started
    // below, so that its very first check already uses them.
    const int32_t time_limit = field_number(dialog, IDC_TIME_LIMIT).value_or(largest);
    const int32_t subsong_limit = flag(dialog, IDC_SUBSONGS);
    set(settings.time_limit, time_limit);
    set(settings.subsong_limit, subsong_limit);

    const int32_t check_time_limit = flag(dialog, IDC_TIME_ENABLE);
    store_setting(keys::check_time_limit, settings.check_time_limit, check_time_limit);
    if (check_time_limit) {
        stop_loop_watcher();
        start_time_watcher();
    } else {
        stop_time_watcher();
    }
    store_setting(keys::time_limit, settings.time_limit, time_limit);
    store_setting(keys::subsong_limit, settings.subsong_limit, subsong_limit);

    const bool looping = controls::is_checked(dialog, IDC_LOOP_ENABLE);
    if (!looping) {
        host::store_write(keys::check_looping, 0);
        stop_loop_watcher();
    }

    const int32_t length = track_length_ms();
    const std::optional<int32_t> typed_start = field_number(dialog, IDC_LOOP_START);
    const std::optional<int32_t> typed_end = field_number(dialog, IDC_LOOP_END);
    const LoopSection section = correct_loop_section(typed_start, typed_end, length);
    show_and_store(dialog, IDC_LOOP_START, settings.start_loop_time, keys::start_loop_time,
                   section.start);
    show_and_store(dialog, IDC_LOOP_END, settings.end_loop_time, keys::end_loop_time, section.end);

    if (looping && host::is_playing() && loop_section_usable(section)) {
        host::store_write(keys::check_looping, 1);
        stop_time_watcher();
        start_loop_watcher(began);
    } else if (looping) {
        host::store_write(keys::check_looping, 0);
        controls::set_checked(dialog, IDC_LOOP_ENABLE, false);
        stop_loop_watcher();
    }
    if (!same_track(began)) undo_looping(dialog, check_time_limit);
}

}  // namespace quarvel
