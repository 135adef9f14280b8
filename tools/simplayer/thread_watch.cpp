#include "thread_watch.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "rest_watch.h"

namespace sim {

namespace {

std::mutex mutex;  // guards the handles
std::vector<HANDLE> threads;
long started = 0;
std::atomic<DWORD> hold_ms{0};  // 0: no hold armed
std::atomic<bool> hold_saw_end{false};

HANDLE WINAPI create_thread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack,
                            LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                            LPDWORD id) {
    HANDLE thread = CreateThread(attributes, stack, routine, parameter, flags, id);
    if (!thread) return nullptr;
    HANDLE own = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++started;
        if (own) threads.push_back(own);
    }
    if (const DWORD ms = hold_ms.exchange(0))
        hold_saw_end = own && WaitForSingleObject(own, ms) == WAIT_OBJECT_0;
    return thread;
}

}  // namespace

bool watch_threads(HMODULE module) {
    return replace_import(module, "KERNEL32.dll", "CreateThread",
                          reinterpret_cast<void*>(create_thread));
}

long plugin_threads_started() {
    std::lock_guard<std::mutex> lock(mutex);
    return started;
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
    started = 0;
}

void hold_after_next_thread_start(DWORD at_most_ms) {
    hold_saw_end = false;
    hold_ms = at_most_ms;
}

bool held_until_thread_ended() {
    return hold_saw_end.load();
}

}  // namespace sim
