// Watcher "threads" for the fuzz target: a start only sets the run flag, nothing runs.
#include "watchers/thread.h"

namespace quarvel::threads {
class Rest {};
void rest_1ms(Rest&) {}
uint32_t now_ms() {
    return 0;
}
bool start_watcher_thread(uint32_t) {
    return true;
}
}  // namespace quarvel::threads
