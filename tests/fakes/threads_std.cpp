// Watcher threads on Linux: detached std::threads, counted so that tests can wait for them.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "fake_threads.h"
#include "watchers/thread.h"
#include "watchers/watcher_control.h"

namespace {
std::atomic<int> live{0};
std::atomic<bool> refuse{false};
std::atomic<uint32_t> clock_ms{0};
}  // namespace

namespace quarvel::threads {

class Rest {};

void rest_1ms(Rest&) {
    fake::on_rest();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

uint32_t now_ms() {
    return clock_ms.load();
}

bool start_watcher_thread(uint32_t token) {
    fake::on_watcher_start();
    if (refuse.load()) return false;
    live.fetch_add(1);
    std::promise<void> go;
    std::thread([token, started = go.get_future()] {
        started.wait();
        Rest rest;
        run_watcher(token, rest);
        live.fetch_sub(1);
    }).detach();
    bool gone = false;
    const auto run = [&] {
        if (!gone) go.set_value();
        gone = true;
    };
    fake::on_thread_started(run);
    run();
    return true;
}

}  // namespace quarvel::threads

namespace fake {

Hook<void()> on_watcher_start;
Hook<void(const std::function<void()>& run)> on_thread_started;
Hook<void()> on_rest;

int live_watcher_threads() {
    return live.load();
}

bool wait_for(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void wait_for_watcher_threads() {
    if (!wait_for([] { return live.load() == 0; })) {
        std::fprintf(stderr, "watcher threads did not end\n");
        std::abort();
    }
}

void advance_clock(uint32_t ms) {
    clock_ms.fetch_add(ms);
}

void set_clock(uint32_t ms) {
    clock_ms.store(ms);
}

void fail_thread_starts(bool fail) {
    refuse.store(fail);
}

}  // namespace fake
