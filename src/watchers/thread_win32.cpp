#include <windows.h>

#include <atomic>

#include "host/module.h"
#include "watchers/thread.h"
#include "watchers/watcher_control.h"

namespace quarvel::threads {

namespace {

// CreateWaitableTimerExW exists only since Windows Vista: a static import of it would keep the
// whole DLL from loading on Windows XP, so it is looked up at run time, once.
using CreateWaitableTimerExFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name,
                                                DWORD flags, DWORD access);

// 0 until looked up, then the function's address, or `absent` where KERNEL32 has none.
std::atomic<uintptr_t> waitable_timer_ex{0};
constexpr uintptr_t absent = 1;

CreateWaitableTimerExFn create_waitable_timer_ex() {
    uintptr_t found = waitable_timer_ex.load(std::memory_order_acquire);
    if (found == 0) {
        // KERNEL32 is always loaded; threads that race here find the same answer.
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC address = kernel ? GetProcAddress(kernel, "CreateWaitableTimerExW") : nullptr;
        found = address ? reinterpret_cast<uintptr_t>(address) : absent;
        waitable_timer_ex.store(found, std::memory_order_release);
    }
    return found == absent ? nullptr : reinterpret_cast<CreateWaitableTimerExFn>(found);
}

// A high-resolution timer where the system makes one (Windows 10 version 1803 and later),
// else null.
HANDLE make_high_resolution_timer() {
    constexpr DWORD high_resolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
    const CreateWaitableTimerExFn create = create_waitable_timer_ex();
    return create ? create(nullptr, nullptr, high_resolution, TIMER_MODIFY_STATE | SYNCHRONIZE)
                  : nullptr;
}

}  // namespace

// A waitable timer of the watcher thread's own, high-resolution where the system has them:
// there a 1 ms wait lasts about 1 ms, where Sleep(1) lasts a whole timer tick (15.6 ms by
// default) unless someone raised the process's timer resolution, which the plug-in never does
// behind the player's back. Where the system has no such timer (Windows XP has not even the
// function that makes one; Windows before 10 version 1803 answers ERROR_INVALID_PARAMETER),
// the rest is Sleep(1). So it is for good once the timer cannot be armed, or a wait on it
// fails or outlasts its bound: a timer that never fires must not turn the 1 ms watcher into a
// slow one.
class Rest {
  public:
    Rest() : timer_(make_high_resolution_timer()) {}
    ~Rest() { close(); }
    Rest(const Rest&) = delete;
    Rest& operator=(const Rest&) = delete;

    void one_ms() {
        if (timer_) {
            // Armed one-shot before every wait: periodic high-resolution timers fail on some
            // Windows 10 builds.
            LARGE_INTEGER due;
            due.QuadPart = -10000;  // 1 ms from now, in 100 ns steps
            if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(timer_, wait_bound_ms) == WAIT_OBJECT_0) {
                return;
            }
            close();
        }
        Sleep(1);
    }

  private:
    void close() {
        if (timer_) CloseHandle(timer_);
        timer_ = nullptr;
    }

    static constexpr DWORD wait_bound_ms = 100;  // a timer due in 1 ms: only a safety net
    HANDLE timer_;
};

void rest_1ms(Rest& rest) {
    rest.one_ms();
}

uint32_t now_ms() {
    return GetTickCount();  // 10 to 16 ms steps: plenty for a hold-off of a second
}

namespace {

DWORD WINAPI watcher_thread(LPVOID parameter) {
    {
        Rest rest;  // closed before the thread ends
        run_watcher(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parameter)), rest);
    }
    // The reference this thread was handed is given back in the same step as the thread
    // ends, so no code of this module runs after it.
    FreeLibraryAndExitThread(module_handle, 0);
}

}  // namespace

bool start_watcher_thread(uint32_t token) {
    ModuleReference reference;  // for the thread to hold until its very end
    if (!reference) return false;
    HANDLE thread =
        CreateThread(nullptr, 0, watcher_thread,
                     reinterpret_cast<LPVOID>(static_cast<uintptr_t>(token)), 0, nullptr);
    if (!thread) return false;
    reference.keep();     // the thread gives it back
    CloseHandle(thread);  // detached: nobody waits for it
    return true;
}

}  // namespace quarvel::threads
