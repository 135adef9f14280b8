#include "watchers/watcher_control.h"

#include "watchers/loop_watcher.h"
#include "watchers/thread.h"
#include "watchers/time_limit_watcher.h"

namespace quarvel {

Shared<bool> has_subsongs{false};

namespace {

// The control word's parts (watcher_control.h).
constexpr uint32_t run_bit = 1u;
constexpr uint32_t kind_bit = 2u;
constexpr uint32_t generation_step = 4u;

Shared<bool> instance_live{false};

class WatcherControl {
  public:
    explicit constexpr WatcherControl(WatcherKind kind)
        : kind_(kind), word_(kind == WatcherKind::loop ? kind_bit : 0u) {}

    void start() {
        while (instance_live.load()) {
            uint32_t word = word_.load();
            if (word & run_bit) return;  // already running
            // Unsigned arithmetic: the generation simply wraps after 2^30 starts.
            const uint32_t token = (word + generation_step) | run_bit;
            if (!word_.compare_exchange_weak(word, token)) continue;
            // A free_instance that came in since the check above may have made its stop
            // before this start: then the start is taken back here. One that comes later
            // stops it itself.
            const bool live = instance_live.load();
            if (live && threads::start_watcher_thread(token)) return;
            // Put the flag back (and so a later start tries again); a stop or start that came
            // in meanwhile wins.
            uint32_t expected = token;
            if (!word_.compare_exchange_strong(expected, token & ~run_bit) || live) return;
            // A start that came in meanwhile (a track open after a new_instance) saw this
            // claim and left the watcher to it: try again while the instance is live. A thread
            // that could not be created is not tried again.
        }
    }

    void stop() { word_.fetch_and(~run_bit); }

    bool running() const { return (word_.load() & run_bit) != 0; }

    // The close stamp a loop watcher started from now on is armed for.
    void arm_for(CloseStamp stamp) { armed_for_.store(stamp); }

    void run(uint32_t token, threads::Rest& rest) {
        if (!enter(token, rest)) return;
        if (kind_ == WatcherKind::time_limit) {
            // Check first, then rest.
            while (current(token)) {
                time_limit_pass();
                threads::rest_1ms(rest);
            }
        } else {
            // Rest first, then check; a stop during the rest ends the watcher before it
            // sends anything more. The stamp check is needed besides the run flag: Apply may
            // start the watcher while a close is under way whose stop came first (the watcher
            // would pass until Apply's own check undoes the start), and a close marks itself
            // before it stops the watcher.
            const CloseStamp armed_for = armed_for_.load();
            while (current(token)) {
                threads::rest_1ms(rest);
                if (!current(token) || !same_track(armed_for)) break;
                loop_pass(armed_for);
            }
        }
        busy_.store(false, std::memory_order_release);
    }

  private:
    bool current(uint32_t token) const { return word_.load() == token; }

    // Waits until no older watcher of this kind is still inside its passes. Gives up (and
    // so ends the thread without a pass) once this watcher has been stopped or replaced.
    bool enter(uint32_t token, threads::Rest& rest) {
        for (;;) {
            if (!current(token)) return false;
            bool expected = false;
            if (busy_.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
                if (current(token)) return true;
                busy_.store(false, std::memory_order_release);
                return false;
            }
            threads::rest_1ms(rest);
        }
    }

    const WatcherKind kind_;
    Shared<uint32_t> word_;
    Shared<bool> busy_{false};  // a watcher of this kind is inside its passes
    Shared<CloseStamp> armed_for_{0};
};

WatcherControl time_control{WatcherKind::time_limit};
WatcherControl loop_control{WatcherKind::loop};

}  // namespace

void begin_instance() {
    instance_live.store(true);
}

void end_instance() {
    instance_live.store(false);
    time_control.stop();
    loop_control.stop();
}

void start_time_watcher() {
    time_control.start();
}
void stop_time_watcher() {
    time_control.stop();
}
void stop_loop_watcher() {
    loop_control.stop();
}

void start_loop_watcher(CloseStamp armed_for) {
    // A running watcher was armed for this same stamp: a close in between would have
    // stopped it before any Apply could take a new one.
    loop_control.arm_for(armed_for);
    loop_control.start();
}

bool time_watch_running() {
    return time_control.running();
}
bool loop_watch_running() {
    return loop_control.running();
}

void run_watcher(uint32_t token, threads::Rest& rest) {
    (token & kind_bit ? loop_control : time_control).run(token, rest);
}

}  // namespace quarvel
