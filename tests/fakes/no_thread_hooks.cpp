// The fake player's thread hooks for programs that make no std::thread watchers of their own
// (the fuzz target, the interleaving explorer): nothing to wait for, nothing to hook.
#include "fake_threads.h"

namespace fake {
Hook<void()> on_watcher_start;
Hook<void(const std::function<void()>&)> on_thread_started;
Hook<void()> on_rest;
int live_watcher_threads() {
    return 0;
}
void wait_for_watcher_threads() {}
bool wait_for(const std::function<bool()>& condition) {
    return condition();
}
void fail_thread_starts(bool) {}
void advance_clock(uint32_t) {}
}  // namespace fake
