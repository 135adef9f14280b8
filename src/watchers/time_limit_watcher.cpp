#include "watchers/time_limit_watcher.h"

#include "host/host.h"
#include "settings/settings.h"
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

}  // namespace

void time_limit_pass() {
    const int32_t position = host::position();
    const int32_t limit = get(settings.time_limit);
    // A limit of 0 or below (a wrapped or hand-edited value) never triggers.
    if (limit <= 0 || position <= limit) return;

    const int32_t count = host::playlist_length();
    if (!has_subsongs.load(std::memory_order_relaxed)) {
        move_to_next_entry(count, false);
        return;
    }
    if (get(settings.subsong_limit) == 0) return;  // subsong tracks are not limited

    const int32_t before = host::position();
    host::send_command(commands::next_subsong);
    const int32_t after = host::position();
    // Playback did not go back: that was the last subsong.
    if (after >= before) move_to_next_entry(count, true);
}

}  // namespace quarvel
