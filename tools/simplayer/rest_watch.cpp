#include "rest_watch.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

namespace sim {

namespace {

constexpr DWORD high_resolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

std::atomic<bool> refusing{false};
std::mutex mutex;  // guards the counts and the set of open timers
RestCounts counts;
std::set<HANDLE> open_timers;

HANDLE WINAPI create_timer(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                           DWORD access) {
    const bool wanted = (flags & high_resolution) != 0;
    if (wanted && refusing) {
        std::lock_guard<std::mutex> lock(mutex);
        ++counts.timers_refused;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE timer = CreateWaitableTimerExW(attributes, name, flags, access);
    std::lock_guard<std::mutex> lock(mutex);
    if (!wanted) ++counts.other_timers;
    if (timer && wanted) {
        ++counts.timers_made;
        open_timers.insert(timer);
    }
    return timer;
}

BOOL WINAPI arm_timer(HANDLE timer, const LARGE_INTEGER* due, LONG period, PTIMERAPCROUTINE routine,
                      LPVOID argument, BOOL resume) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++counts.arms;
        if (!due || due->QuadPart != -10000 || period != 0 || routine) ++counts.arms_not_1ms_once;
    }
    return SetWaitableTimer(timer, due, period, routine, argument, resume);
}

BOOL WINAPI close_handle(HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        open_timers.erase(handle);
    }
    return CloseHandle(handle);
}

void WINAPI sleep(DWORD ms) {
    if (ms == 1) {
        std::lock_guard<std::mutex> lock(mutex);
        ++counts.sleeps_1ms;
    }
    Sleep(ms);
}

}  // namespace

bool replace_import(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name; ++d) {
        if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(by_name->Name), function) != 0) continue;
            DWORD was = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
            return true;
        }
    }
    return false;
}

bool watch_rests(HMODULE module, bool refuse_high_resolution_timers) {
    refusing = refuse_high_resolution_timers;
    bool all = true;
    all &= replace_import(module, "KERNEL32.dll", "CreateWaitableTimerExW",
                          reinterpret_cast<void*>(create_timer));
    all &= replace_import(module, "KERNEL32.dll", "SetWaitableTimer",
                          reinterpret_cast<void*>(arm_timer));
    all &= replace_import(module, "KERNEL32.dll", "CloseHandle",
                          reinterpret_cast<void*>(close_handle));
    all &= replace_import(module, "KERNEL32.dll", "Sleep", reinterpret_cast<void*>(sleep));
    return all;
}

RestCounts rest_counts() {
    std::lock_guard<std::mutex> lock(mutex);
    RestCounts out = counts;
    out.timers_open = static_cast<long>(open_timers.size());
    return out;
}

void reset_rest_counts() {
    std::lock_guard<std::mutex> lock(mutex);
    counts = RestCounts{};
    open_timers.clear();
}

}  // namespace sim
