// Functions newer than Windows XP that the simulated player, the test programs and the benchmark
// use: looked up at run time, so that the programs load on Windows XP too (one static import that
// the system lacks keeps a program from starting at all).
#pragma once

#include <windows.h>

namespace sim {

// CreateWaitableTimerExW (Windows Vista and later); null with ERROR_PROC_NOT_FOUND where the
// system has none.
HANDLE create_waitable_timer_ex(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                DWORD access);

}  // namespace sim
