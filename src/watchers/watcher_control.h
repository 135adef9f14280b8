// Starting and stopping the two watcher threads.
//
// Each kind of watcher has one control word:
//   bit 0      the run flag: set by a start, cleared by a stop;
//   bit 1      the kind: 0 for the time-limit watcher, 1 for the loop watcher, so that a
//              thread told its word (its token) knows which watcher it runs;
//   bits 2-31  the generation: one more at every start, wrapping in unsigned arithmetic.
// A watcher makes its passes only while the word is still its token: a watcher that was
// stopped, and perhaps replaced by a newer one, ends after the pass it is in. A newly
// started thread waits (without holding up whoever started it) until the previous one has
// left its passes, so passes of one kind never overlap.
#pragma once

#include <cstdint>

#include "settings/shared_word.h"
#include "watchers/thread.h"
#include "watchers/track_events.h"

namespace quarvel {

enum class WatcherKind : uint32_t { time_limit = 0, loop = 1 };

// The player's instance: new_instance makes it live, free_instance ends it and stops both
// watchers. No watcher starts while no instance is live: a dialog left open, or a track
// opened, after free_instance starts nothing (the player may then unload the module).
void begin_instance();
void end_instance();

void start_time_watcher();
void stop_time_watcher();
void stop_loop_watcher();

// Looping belongs to one track: the loop watcher is armed for the close stamp that Apply
// took when it began, and begins no pass while that stamp shows a close under way, nor once a
// track close has begun since. A pass that has begun finishes (its jump may come after the
// close has returned); the close does not wait for it.
void start_loop_watcher(CloseStamp armed_for);

bool time_watch_running();
bool loop_watch_running();

// True when the current track reports subsongs; written on every track open.
extern Shared<bool> has_subsongs;

// Body of a watcher thread, called by the thread seam with the token its start was given and
// the thread's rest.
void run_watcher(uint32_t token, threads::Rest& rest);

}  // namespace quarvel
