// Starting and stopping the two watcher threads.
//
// Each kind of watcher has one control word: a generation count and, in its lowest bit, the
// run flag. A start bumps the generation, so a watcher that was stopped and then replaced
// sees a word that is no longer its own at the end of its pass and ends; a newly started
// thread waits (without holding up whoever started it) until the previous one has left its
// passes, so passes of one kind never overlap.
#pragma once

#include <atomic>
#include <cstdint>

#include "watchers/thread.h"

namespace quarvel {

enum class WatcherKind : uint32_t { time_limit = 0, loop = 1 };

void start_time_watcher();
void stop_time_watcher();
void start_loop_watcher();
void stop_loop_watcher();

bool time_watch_running();
bool loop_watch_running();

// True when the current track reports subsongs; written on every track open.
extern std::atomic<bool> has_subsongs;

// Body of a watcher thread, called by the thread seam with the token its start was given and
// the thread's rest.
void run_watcher(uint32_t token, threads::Rest& rest);

}  // namespace quarvel
