// Watcher "threads" for the fuzz target: a start only sets the run flag, nothing runs.
#include "fake_threads.h"
#include "watchers/thread.h"

namespace quarvel::threads {
class Rest {};
void rest_1ms(Rest&) {}
bool start_watcher_thread(uint32_t) {
    return true;
}
}  // namespace quarvel::threads

namespace fake {
std::function<void()> on_watcher_start;
std::function<void(const std::function<void()>&)> on_thread_started;
std::function<void()> on_rest;
int live_watcher_threads() {
    return 0;
}
void wait_for_watcher_threads() {}
bool wait_for(const std::function<bool()>& condition) {
    return condition();
}
void fail_thread_starts(bool) {}
}  // namespace fake
