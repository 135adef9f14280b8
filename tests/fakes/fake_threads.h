// Control over the watcher threads of the native build.
#pragma once

#include <functional>

namespace fake {

int live_watcher_threads();
// Waits until every watcher thread has ended (fails the test after five seconds).
void wait_for_watcher_threads();
// Makes thread creation fail, as when the system has no room for another thread.
void fail_thread_starts(bool fail);
// Called on the starting thread just before a watcher thread is created.
extern std::function<void()> on_watcher_start;
// Called on a watcher thread at each of its 1 ms rests. Set it while no watcher runs.
extern std::function<void()> on_rest;

}  // namespace fake
