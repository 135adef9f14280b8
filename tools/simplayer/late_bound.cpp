#include "late_bound.h"

namespace {

FARPROC kernel_function(const char* name) {
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

// Looked up as the program starts (no guarded static: the C++ runtime's threads call in here).
using Create = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
const auto system_create_timer_ex =
    reinterpret_cast<Create>(reinterpret_cast<void*>(kernel_function("CreateWaitableTimerExW")));
using Tick64 = ULONGLONG(WINAPI*)();
const auto system_tick_64 =
    reinterpret_cast<Tick64>(reinterpret_cast<void*>(kernel_function("GetTickCount64")));

}  // namespace

namespace sim {

HANDLE create_waitable_timer_ex(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                DWORD access) {
    if (!system_create_timer_ex) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return system_create_timer_ex(attributes, name, flags, access);
}

}  // namespace sim

#if defined(__i386__)
// The C++ runtime's threads (winpthreads) import GetTickCount64, which Windows XP lacks. Each
// program that links this file fills that import's slot itself, with a stand-in that calls the
// system's function where it has one and widens GetTickCount otherwise.
extern "C" {

static ULONGLONG WINAPI tick_count_64() {
    if (system_tick_64) return system_tick_64();
    // GetTickCount wraps after 49.7 days: count the wraps (a caller seeing one wrap twice at once
    // is harmless for the timeouts it serves).
    static DWORD last = 0, wraps = 0;
    const DWORD now = GetTickCount();
    if (now < last) ++wraps;
    last = now;
    return (static_cast<ULONGLONG>(wraps) << 32) | now;
}

__attribute__((used)) void* tick_count_64_slot __asm__("__imp__GetTickCount64@0") =
    reinterpret_cast<void*>(&tick_count_64);
}
#endif
