#include "thread_watch.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "rest_watch.h"

namespace sim {

namespace {

std::mutex mutex;  // guards the handles
std::vector<HANDLE> threads;
std::atomic<DWORD> hold_ms{0};  // 0: no hold armed

HANDLE WINAPI create_thread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack,
                            LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                            LPDWORD id) {
    HANDLE thread = CreateThread(attributes, stack, routine, parameter, flags, id);
    if (!thread) return nullptr;
    HANDLE own = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0);
    if (own) {
        std::lock_guard<std::mutex> lock(mutex);
        threads.push_back(own);
    }
    if (const DWORD ms = hold_ms.exchange(0); ms && own) WaitForSingleObject(own, ms);
    return thread;
}

}  // namespace

bool watch_threads(HMODULE module) {
    return replace_import(module, "KERNEL32.dll", "CreateThread",
                          reinterpret_cast<void*>(create_thread));
}

long plugin_threads_running() {
    std::lock_guard<std::mutex> lock(mutex);
    long running = 0;
    for (HANDLE t : threads) running += WaitForSingleObject(t, 0) == WAIT_TIMEOUT;
    return running;
}

void forget_plugin_threads() {
    std::lock_guard<std::mutex> lock(mutex);
    for (HANDLE t : threads) CloseHandle(t);
    threads.clear();
}

void hold_after_next_thread_start(DWORD at_most_ms) {
    hold_ms = at_most_ms;
}

}  // namespace sim
