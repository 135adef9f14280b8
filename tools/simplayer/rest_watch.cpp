#include "rest_watch.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "late_bound.h"

namespace sim {

namespace {

constexpr DWORD high_resolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

std::atomic<Timers> timers{Timers::as_the_system_has_them};
std::mutex mutex;  // guards the counts and the set of open timers
RestCounts counts;
std::set<HANDLE> open_timers;

HANDLE WINAPI create_timer(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                           DWORD access) {
    const bool wanted = (flags & high_resolution) != 0;
    if (wanted && timers == Timers::refused) {
        std::lock_guard<std::mutex> lock(mutex);
        ++counts.timers_refused;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE timer = create_waitable_timer_ex(attributes, name, flags, access);
    std::lock_guard<std::mutex> lock(mutex);
    if (!wanted) ++counts.other_timers;
    if (timer && wanted) {
        ++counts.timers_made;
        open_timers.insert(timer);
    }
    return timer;
}

FARPROC WINAPI get_proc_address(HMODULE module, LPCSTR name) {
    const bool by_name = reinterpret_cast<ULONG_PTR>(name) > 0xFFFF;
    if (by_name && std::strcmp(name, "CreateWaitableTimerExW") == 0) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++counts.lookups;
        }
        if (timers == Timers::absent) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(create_timer));
    }
    return GetProcAddress(module, name);
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

DWORD WINAPI wait(HANDLE handle, DWORD ms) {
    if (timers == Timers::never_fire) {
        std::lock_guard<std::mutex> lock(mutex);
        if (open_timers.count(handle)) {
            ++counts.waits_timed_out;
            return WAIT_TIMEOUT;  // as if the whole bound had passed
        }
    }
    return WaitForSingleObject(handle, ms);
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

bool watch_rests(HMODULE module, Timers system_timers) {
    timers = system_timers;
    bool all = true;
    for (auto [function, stand_in] :
         {std::pair{"GetProcAddress", reinterpret_cast<void*>(get_proc_address)},
          std::pair{"SetWaitableTimer", reinterpret_cast<void*>(arm_timer)},
          std::pair{"WaitForSingleObject", reinterpret_cast<void*>(wait)},
          std::pair{"CloseHandle", reinterpret_cast<void*>(close_handle)},
          std::pair{"Sleep", reinterpret_cast<void*>(sleep)}}) {
        all &= replace_import(module, "KERNEL32.dll", function, stand_in);
    }
    return all;
}

RestCounts rest_counts() {
    std::lock_guard<std::mutex> lock(mutex);
    RestCounts out = counts;
    out.timers_open = static_cast<long>(open_timers.size());
    return out;
}

bool system_has_high_resolution_timers() {
    struct Found {
        bool timers;
        const char* said;
    };
    static const Found found = [] {
        HANDLE timer = create_waitable_timer_ex(nullptr, nullptr, high_resolution,
                                                TIMER_MODIFY_STATE | SYNCHRONIZE);
        if (timer) {
            CloseHandle(timer);
            return Found{true, "a high-resolution waitable timer"};
        }
        return Found{false, GetLastError() == ERROR_PROC_NOT_FOUND
                                ? "Sleep(1): the system has no CreateWaitableTimerExW"
                                : "Sleep(1): the system refuses a high-resolution timer"};
    }();
    std::printf("the rest this system offers: %s\n", found.said);
    return found.timers;
}

void reset_rest_counts() {
    std::lock_guard<std::mutex> lock(mutex);
    counts = RestCounts{};
    open_timers.clear();
}

}  // namespace sim
