// Control over the watcher threads of the native build.
#pragma once

#include <cstdint>
#include <functional>

#include "hook.h"

namespace fake {

int live_watcher_threads();
// Waits until every watcher thread has ended (aborts after ten seconds: a guard, never the
// thing tested).
void wait_for_watcher_threads();
// Waits until `condition` holds; false if it still does not after ten seconds (a guard).
bool wait_for(const std::function<bool()>& condition);
// Makes thread creation fail, as when the system has no room for another thread.
void fail_thread_starts(bool fail);
// Called on the starting thread just before a watcher thread is created.
extern Hook<void()> on_watcher_start;
// Called on the starting thread right after a watcher thread was created, before that thread
// runs: the starting thread as if pre-empted there. `run` lets the new thread run meanwhile
// (it does anyway once the hook returns).
extern Hook<void(const std::function<void()>& run)> on_thread_started;
// The watchers' clock (threads::now_ms) stands still until a test moves it on (or sets it).
void advance_clock(uint32_t ms);
void set_clock(uint32_t ms);
// Called on a watcher thread at each of its 1 ms rests.
extern Hook<void()> on_rest;

}  // namespace fake
