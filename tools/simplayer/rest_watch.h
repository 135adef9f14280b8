// Watches from outside how a loaded plug-in rests between its passes: its imports of
// GetProcAddress (through which it finds CreateWaitableTimerExW), SetWaitableTimer,
// WaitForSingleObject, CloseHandle and Sleep are pointed at counting stand-ins that call the
// real functions, or play a system whose timers do not serve: one that refuses to make a
// high-resolution timer (Windows before 10 version 1803 answers ERROR_INVALID_PARAMETER), one
// without the function at all (Windows XP), one whose timer never fires. Only the test
// programs and the benchmark do this; the plug-in itself has no switch for it. One plug-in at
// a time.
#pragma once

#include <windows.h>

namespace sim {

enum class Timers {
    as_the_system_has_them,
    refused,     // CreateWaitableTimerExW answers ERROR_INVALID_PARAMETER
    absent,      // GetProcAddress finds no CreateWaitableTimerExW
    never_fire,  // a wait on a timer of the plug-in's times out
};

struct RestCounts {
    long lookups = 0;            // GetProcAddress asked for CreateWaitableTimerExW
    long timers_made = 0;        // high-resolution timers the plug-in got
    long timers_refused = 0;     // asked for and refused (Timers::refused)
    long timers_open = 0;        // made and not yet closed
    long other_timers = 0;       // asked for without the high-resolution flag
    long arms = 0;               // SetWaitableTimer calls
    long arms_not_1ms_once = 0;  // of those, any other than one-shot, 1 ms, relative
    long waits_timed_out = 0;    // waits on a timer that ended without it firing
    long sleeps_1ms = 0;
};

// Points the module's imports at the stand-ins; false when one of them is not imported.
// Redo it after every load of the module.
bool watch_rests(HMODULE module, Timers timers = Timers::as_the_system_has_them);
RestCounts rest_counts();
void reset_rest_counts();

// Whether this system makes a high-resolution waitable timer (Windows 10 version 1803 and
// later; Vista to 1709 refuse the flag, XP lacks the function), asked once the way the plug-in
// asks, with the real functions; says on standard output which rest that leaves the plug-in.
bool system_has_high_resolution_timers();

// Points the module's import of `function` from `dll` at `replacement`; false when the
// module does not import it.
bool replace_import(HMODULE module, const char* dll, const char* function, void* replacement);

}  // namespace sim
