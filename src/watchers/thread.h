// How the watchers get their threads, their 1 ms rest and their clock.
//
// On Windows a watcher thread holds a reference on the plug-in module from its creation to
// its last act, so the player may unload the DLL while a stopped watcher finishes its pass,
// and it rests on a high-resolution timer of its own.
#pragma once

#include <cstdint>

namespace quarvel::threads {

// What one watcher thread rests on between its passes: made by the thread seam for the
// thread's whole life and given to run_watcher. Each platform defines it.
class Rest;

// About one millisecond's rest.
void rest_1ms(Rest& rest);

// Milliseconds on the system's clock, wrapping after 2^32: only differences count.
uint32_t now_ms();

// Starts a detached thread that runs run_watcher(token, its Rest). Returns false when no
// thread could be created.
bool start_watcher_thread(uint32_t token);

}  // namespace quarvel::threads
