#include "dialog/apply.h"

#include <cstdlib>
#include <limits>
#include <memory>

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

void show_and_store(controls::Dialog dialog, int field, std::atomic<int32_t>& slot, const char* key,
                    int32_t value) {
    set(slot, value);
    controls::set_text(dialog, field, format_signed_decimal(value).c_str());
    host::store_write(key, value);
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
    // Looping is armed only for the track playing now: not when a track close is under way,
    // nor once one has begun since.
    const CloseStamp began = track_close_stamp();
    const auto same_track = [began] {
        return no_close_under_way(began) && track_close_stamp() == began;
    };

    // The limit and the subsong option reach Settings before a time watcher is started
    // below, so that its very first check already uses them.
    const int32_t time_limit = field_number(dialog, IDC_TIME_LIMIT).value_or(largest);
    const int32_t subsong_limit = flag(dialog, IDC_SUBSONGS);
    set(settings.time_limit, time_limit);
    set(settings.subsong_limit, subsong_limit);

    const int32_t check_time_limit = flag(dialog, IDC_TIME_ENABLE);
    host::store_write(keys::check_time_limit, check_time_limit);
    set(settings.check_time_limit, check_time_limit);
    if (check_time_limit) {
        stop_loop_watcher();
        start_time_watcher();
    } else {
        stop_time_watcher();
    }
    host::store_write(keys::time_limit, time_limit);
    host::store_write(keys::subsong_limit, subsong_limit);

    const bool looping = controls::is_checked(dialog, IDC_LOOP_ENABLE);
    if (!looping) {
        host::store_write(keys::check_looping, 0);
        stop_loop_watcher();
    }

    const int32_t length = host::track_length();
    const std::optional<int32_t> typed_start = field_number(dialog, IDC_LOOP_START);
    const std::optional<int32_t> typed_end = field_number(dialog, IDC_LOOP_END);
    const LoopSection section = correct_loop_section(typed_start, typed_end, length);
    show_and_store(dialog, IDC_LOOP_START, settings.start_loop_time, keys::start_loop_time,
                   section.start);
    show_and_store(dialog, IDC_LOOP_END, settings.end_loop_time, keys::end_loop_time, section.end);

    if (!looping) return;
    if (host::is_playing() && loop_section_usable(section) && same_track()) {
        host::store_write(keys::check_looping, 1);
        // A close that came during that write stored its 0 before this 1: refused after all.
        if (same_track()) {
            stop_time_watcher();
            if (start_loop_watcher(began)) return;
            // A close began meanwhile: the time limit runs on as if looping had been refused.
            if (check_time_limit) start_time_watcher();
        }
    }
    host::store_write(keys::check_looping, 0);
    controls::set_checked(dialog, IDC_LOOP_ENABLE, false);
    stop_loop_watcher();
}

}  // namespace quarvel
