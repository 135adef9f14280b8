#include "watchers/time_limit_watcher.h"

#include "host/host.h"
#include "settings/settings.h"
#include "watchers/thread.h"
#include "watchers/watcher_control.h"

namespace quarvel {

namespace commands {
constexpr char play[] = "key80";
constexpr char stop[] = "key81";
constexpr char next_subsong[] = "key86";
constexpr char next_entry[] = "key128";
}  // namespace commands

namespace {

// Moves on to the next playlist entry. A single-entry playlist has no next entry, so the
// track is stopped and started again instead (with an extra stop after a failed subsong
// step).
void move_to_next_entry(int32_t playlist_length, bool after_subsong_step) {
    if (playlist_length == 1) {
        host::send_command(commands::stop);
        if (after_subsong_step) host::send_command(commands::stop);
        host::send_command(commands::play);
    } else {
        host::send_command(commands::next_entry);
    }
}

// Sends what moves the player on from a song past its limit; false when such a song is not
// limited (a subsong track without the per-subsong option).
bool move_on() {
    const int32_t count = host::playlist_length();
    if (!has_subsongs.load(std::memory_order_relaxed)) {
        move_to_next_entry(count, false);
        return true;
    }
    if (get(settings.subsong_limit) == 0) return false;  // subsong tracks are not limited

    const int32_t before = host::position();
    host::send_command(commands::next_subsong);
    const int32_t after = host::position();
    // Playback did not go back: that was the last subsong.
    if (after >= before) move_to_next_entry(count, true);
    return true;
}

// XMPlay acts on "key128" only some 300 to 500 ms after it returns, the position standing past
// the limit meanwhile: once a pass has sent its commands (a trigger), none are sent again while
// the position stays past the limit, for up to this long from the trigger's end. A player that
// ignored them gets them again then.
constexpr uint32_t hold_off_ms = 1000;

// Whether the crossing of the last trigger lasts, the clock at that trigger's end and the
// position it acted on. Only time watcher passes use them, one at a time.
Shared<bool> holding_off{false};
Shared<uint32_t> triggered_at{0};
Shared<int32_t> triggered_position{0};

// Whether the crossing of the last trigger still lasts at `position`, past the limit: the player
// has not gone back (another entry, another subsong, a restart) and the second has not passed.
bool held_off(int32_t position) {
    if (!holding_off.load(std::memory_order_relaxed)) return false;
    if (position >= triggered_position.load(std::memory_order_relaxed) &&
        threads::now_ms() - triggered_at.load(std::memory_order_relaxed) < hold_off_ms)
        return true;
    holding_off.store(false, std::memory_order_relaxed);
    return false;
}

}  // namespace

void time_limit_pass() {
    const int32_t position = host::position();
    const int32_t limit = get(settings.time_limit);
    // A limit of 0 or below (a wrapped or hand-edited value) never triggers.
    if (limit <= 0 || position <= limit) {
        if (holding_off.load(std::memory_order_relaxed))
            holding_off.store(false, std::memory_order_relaxed);
        return;
    }
    if (held_off(position)) return;
    // While its output stops, XMPlay answers a position ahead of what it played: act only where
    // it says it plays, on a position read after that answer.
    if (!host::output_playing()) return;
    const int32_t playing_at = host::position();
    if (playing_at <= limit || !move_on()) return;
    triggered_position.store(playing_at, std::memory_order_relaxed);
    triggered_at.store(threads::now_ms(), std::memory_order_relaxed);
    holding_off.store(true, std::memory_order_relaxed);
}

}  // namespace quarvel
