#include <windows.h>

#include "watchers/thread.h"
#include "watchers/watcher_control.h"

namespace quarvel::threads {

namespace {

DWORD WINAPI watcher_thread(LPVOID parameter) {
    run_watcher(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parameter)));
    // Our module's handle, without touching its reference count; the reference this thread
    // holds is given back in the same step as the thread ends, so no code of ours runs
    // after it.
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&watcher_thread), &self);
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

bool start_watcher_thread(uint32_t token) {
    // A reference on the module for the thread to hold until its very end.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&watcher_thread), &self)) {
        return false;
    }
    HANDLE thread =
        CreateThread(nullptr, 0, watcher_thread,
                     reinterpret_cast<LPVOID>(static_cast<uintptr_t>(token)), 0, nullptr);
    if (!thread) {
        FreeLibrary(self);
        return false;
    }
    CloseHandle(thread);  // detached: nobody waits for it
    return true;
}

void sleep_1ms() {
    Sleep(1);
}

}  // namespace quarvel::threads
