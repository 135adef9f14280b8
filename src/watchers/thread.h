// How the watchers get their threads and their 1 ms rest.
//
// On Windows a watcher thread holds a reference on the plug-in module from its creation to
// its last act, so the player may unload the DLL while a stopped watcher finishes its pass.
#pragma once

#include <cstdint>

namespace quarvel::threads {

// Starts a detached thread that runs run_watcher(token). Returns false when no thread could
// be created.
bool start_watcher_thread(uint32_t token);

void sleep_1ms();

}  // namespace quarvel::threads
