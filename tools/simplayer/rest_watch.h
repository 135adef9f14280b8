// Watches from outside how a loaded plug-in rests between its passes: its imports of
// CreateWaitableTimerExW, SetWaitableTimer, CloseHandle and Sleep are pointed at counting
// stand-ins that call the real functions, or refuse to make a high-resolution timer as
// Windows before 10 version 1803 does (ERROR_INVALID_PARAMETER). Only the test programs and
// the benchmark do this; the plug-in itself has no switch for it. One plug-in at a time.
#pragma once

#include <windows.h>

namespace sim {

struct RestCounts {
    long timers_made = 0;        // high-resolution timers the plug-in got
    long timers_refused = 0;     // asked for and refused (when refusing)
    long timers_open = 0;        // made and not yet closed
    long other_timers = 0;       // asked for without the high-resolution flag
    long arms = 0;               // SetWaitableTimer calls
    long arms_not_1ms_once = 0;  // of those, any other than one-shot, 1 ms, relative
    long sleeps_1ms = 0;
};

// Points the module's imports at the stand-ins; false when one of them is not imported.
// Redo it after every load of the module.
bool watch_rests(HMODULE module, bool refuse_high_resolution_timers);
RestCounts rest_counts();
void reset_rest_counts();

// Points the module's import of `function` from `dll` at `replacement`; false when the
// module does not import it.
bool replace_import(HMODULE module, const char* dll, const char* function, void* replacement);

}  // namespace sim
