#include "explorer.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace explore {

namespace {

struct Decision {
    int options;
    int chosen;
    bool could_go_on;  // the thread at the point could have gone on: any other is a preemption
    int preemptions;   // before this point
};

constexpr long step_guard = 20000;

std::mutex mutex;
std::condition_variable schedule_ended;
std::vector<std::unique_ptr<Thread>> threads;
Thread* current = nullptr;
std::atomic<bool> free_run{false};
bool ended = false;
bool ran_away = false;
long steps = 0;
std::vector<Decision> decisions;
std::vector<int> forced;
std::vector<std::string> lines;
std::function<void()> observer;
thread_local Thread* me = nullptr;
thread_local bool quiet = false;

bool enabled(const Thread* t) {
    return !t->done && (!t->ready || t->ready());
}
bool timing_out(const Thread* t) {
    return t->answered && !*t->answered;
}

// Picks who runs next after `t` (null at the start); the lock is held.
void hand_on(Thread* t) {
    if (observer) {
        quiet = true;
        observer();
        quiet = false;
    }
    std::vector<Thread*> options;
    const bool could_go_on = t && enabled(t) && !t->answered;
    if (could_go_on) options.push_back(t);
    for (auto& o : threads)
        if (o.get() != t && enabled(o.get()) && !timing_out(o.get())) options.push_back(o.get());
    for (auto& o : threads)  // a sender whose bound expires, last
        if (enabled(o.get()) && timing_out(o.get())) options.push_back(o.get());
    if (options.empty() || ++steps > step_guard) {
        ran_away = !options.empty();
        ended = true;
        current = nullptr;  // nobody goes on
        schedule_ended.notify_one();
        return;
    }
    int chosen = 0;
    if (options.size() > 1) {
        const size_t at = decisions.size();
        chosen = at < forced.size() ? forced[at] : 0;
        const int before = decisions.empty()
                               ? 0
                               : decisions.back().preemptions +
                                     (decisions.back().could_go_on && decisions.back().chosen != 0);
        decisions.push_back({static_cast<int>(options.size()), chosen, could_go_on, before});
    }
    current = options[static_cast<size_t>(chosen)];
    current->turn.notify_one();
}

void wait_turn(std::unique_lock<std::mutex>& lock, Thread* t) {
    t->turn.wait(lock, [t] { return current == t || free_run; });
}

// Hands the baton on from the calling thread in its present state, and waits for it again.
bool pass_baton() {
    Thread* t = me;
    if (!t || quiet || free_run) return !free_run;
    std::unique_lock<std::mutex> lock(mutex);
    hand_on(t);
    wait_turn(lock, t);
    return !free_run;
}

}  // namespace

void switch_point() {
    pass_baton();
}

Thread* self() {
    return free_run || quiet ? nullptr : me;
}

long step() {
    return steps;
}

void note(const std::string& what) {
    if (self()) lines.push_back(std::to_string(lines.size() + 1) + ". " + me->name + ": " + what);
}

void rest() {
    Thread* t = self();
    if (!t) return;
    note("rest");
    if (++t->rests > rests_per_watcher) {
        block_until([] { return false; });  // parked until the schedule ends
        return;
    }
    switch_point();
    t->pass_began = steps;
}

Thread* spawn(const std::string& name, std::function<void()> body) {
    if (free_run) return nullptr;  // the schedule is over: no new thread
    auto owned = std::make_unique<Thread>();
    Thread* t = owned.get();
    t->name = name;
    if (Thread* parent = self()) t->armed_by = parent->action_began;
    std::lock_guard<std::mutex> lock(mutex);
    threads.push_back(std::move(owned));
    t->os = std::thread([t, body = std::move(body)] {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wait_turn(lock, t);
        }
        me = t;
        body();
        std::unique_lock<std::mutex> lock(mutex);
        t->done = true;
        if (!free_run) hand_on(t);
    });
    return t;
}

bool block_until(std::function<bool()> ready) {
    Thread* t = self();
    if (!t) return !free_run;
    t->ready = std::move(ready);
    const bool going_on = pass_baton();
    t->ready = nullptr;
    return going_on;
}

bool await_answer(const bool& answered) {
    Thread* t = self();
    if (!t) return answered;
    t->answered = &answered;
    pass_baton();
    t->answered = nullptr;
    return answered;
}

void set_observer(std::function<void()> observe) {
    observer = std::move(observe);
}

bool run(const std::vector<int>& prefix) {
    std::unique_lock<std::mutex> lock(mutex);
    forced = prefix;
    decisions.clear();
    lines.clear();
    steps = 0;
    ended = ran_away = false;
    hand_on(nullptr);
    schedule_ended.wait(lock, [] { return ended; });
    return !ran_away;
}

bool next_prefix(std::vector<int>& prefix) {
    for (size_t at = decisions.size(); at-- > 0;) {
        const Decision& d = decisions[at];
        if (d.chosen + 1 < d.options && d.preemptions + d.could_go_on <= preemption_bound) {
            prefix.clear();
            for (size_t i = 0; i < at; ++i) prefix.push_back(decisions[i].chosen);
            prefix.push_back(d.chosen + 1);
            return true;
        }
    }
    return false;
}

void finish(const std::function<void()>& stop) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        free_run = true;
        current = nullptr;
        for (auto& t : threads) t->turn.notify_all();
    }
    stop();
    for (;;) {
        std::unique_ptr<Thread> t;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (threads.empty()) break;
            t = std::move(threads.back());
            threads.pop_back();
        }
        t->os.join();
    }
    free_run = false;
}

const std::vector<std::string>& trace() {
    return lines;
}

}  // namespace explore
