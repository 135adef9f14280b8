// Watches from outside the threads a loaded plug-in starts: its import of CreateThread is
// pointed at a stand-in that calls the real function and keeps a handle of every thread made,
// so that the player can tell how many of them still run. A test can also hold the thread
// that started one right after the start, as if the system had pre-empted it there. The
// plug-in has no switch for any of it. One plug-in at a time.
#pragma once

#include <windows.h>

namespace sim {

// Points the module's import of CreateThread at the stand-in; false when it does not import
// it. Redo it after every load of the module.
bool watch_threads(HMODULE module);

long plugin_threads_running();  // started and not yet ended
// Forgets the threads seen so far (their handles are closed).
void forget_plugin_threads();

// The next thread start holds its caller right after the thread was made, until that thread
// has ended or `at_most_ms` have passed (0: no hold).
void hold_after_next_thread_start(DWORD at_most_ms);

}  // namespace sim
