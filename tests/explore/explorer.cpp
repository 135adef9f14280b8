#include "explorer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <ucontext.h>

namespace explore {

namespace {

struct Decision {  // preemptions: before this point
    int options, chosen, preemptions;
    bool could_go_on;  // the thread at the point could have gone on: any other is a preemption
};

constexpr long step_guard = 20000;
constexpr size_t stack_size = 256 * 1024;
constexpr long free_run_rests = 100000;  // a watcher still resting after these never ends

// A coroutine on a stack of its own, entered once through its ucontext; between two threads it
// waits at `idle` for the next, so that no thread after the first costs a system call.
struct Slot {
    Thread thread;
    std::unique_ptr<char[]> stack = std::make_unique<char[]>(stack_size);
    ucontext_t context;
    jmp_buf idle;
    bool entered = false;
};
std::vector<std::unique_ptr<Slot>> pool;  // every coroutine made so far
jmp_buf scheduler;
ucontext_t entry;  // unused: a thread goes back to the scheduler through `scheduler`
Thread* current = nullptr;
bool free_run = false, tracing = false;
int rest_limit = rests_per_watcher;
long free_rests = 0;
std::vector<Decision> decisions;
std::vector<int> forced;

const auto holds = [](const Thread* t) { return !t->ready || t->ready(); };
const auto enabled = [](const Thread* t) { return !t->done && (t->may_give_up || holds(t)); };

// A switch is a _setjmp and a _longjmp (no system call), and so is a thread's start.
void trampoline() {
    for (Slot& slot = *pool[current->slot];;) {
        current->body();
        current->done = true;
        if (!_setjmp(slot.idle)) _longjmp(scheduler, 1);
    }
}

void resume(Thread* t) {
    current = t;
    if (!_setjmp(scheduler)) {
        if (t->started) _longjmp(t->resume_at, 1);
        t->started = true;
        Slot& slot = *pool[t->slot];
        if (std::exchange(slot.entered, true)) _longjmp(slot.idle, 1);
        swapcontext(&entry, &slot.context);
    }
    current = nullptr;
}

// Who runs after `last` (null at the start), a thread giving up last; null when nobody can.
Thread* pick(Thread* last, bool draining) {
    static std::vector<Thread*> options;
    options.clear();
    const bool could_go_on = last && enabled(last) && holds(last);
    if (could_go_on) options.push_back(last);
    for (Thread* o : live)
        if (o != last && enabled(o) && holds(o)) options.push_back(o);
    for (Thread* o : live)
        if (enabled(o) && !holds(o)) options.push_back(o);
    if (options.empty()) return nullptr;
    int chosen = 0;
    if (options.size() > 1 && !draining) {
        const size_t at = decisions.size();
        chosen = at < forced.size() ? forced[at] : 0;
        const Decision* d = decisions.empty() ? nullptr : &decisions.back();
        const int before = d ? d->preemptions + (d->could_go_on && d->chosen != 0) : 0;
        decisions.push_back({static_cast<int>(options.size()), chosen, before, could_go_on});
    }
    return options[static_cast<size_t>(chosen)];
}

}  // namespace

long steps = 0;
std::vector<Thread*> live;
std::vector<std::string> lines, violated;
std::function<void()> observer;

// Back to the scheduler, until this thread is picked again.
void switch_point() {
    if (Thread* t = self())
        if (!_setjmp(t->resume_at)) _longjmp(scheduler, 1);
}

Thread* self() {
    return free_run ? nullptr : current;
}

void note(const std::string& what) {
    if (tracing && self())
        lines.push_back(std::to_string(lines.size() + 1) + ". " + current->name + ": " + what);
}

void violation(const std::string& what) {
    if (std::find(violated.begin(), violated.end(), what) == violated.end())
        violated.push_back(what);
}

void rest() {
    Thread* t = self();
    if (free_run && ++free_rests > free_run_rests) {
        std::fprintf(stderr, "explorer: a watcher does not end after its stop\n");
        std::abort();
    }
    if (!t) return;
    note("rest"), t->in_pass = false;
    if (++t->rests > rest_limit)
        block_until([t] { return t->rests <= rest_limit; });
    else
        switch_point();
    t->pass_began = steps;
}

Thread* spawn(const std::string& name, std::function<void()> body) {
    if (free_run) return nullptr;  // the schedule is over: no new thread
    if (live.size() == pool.size()) {
        Slot& slot = *pool.emplace_back(std::make_unique<Slot>());
        getcontext(&slot.context);
        slot.context.uc_stack = {slot.stack.get(), 0, stack_size};
        makecontext(&slot.context, trampoline, 0);
    }
    Thread* t = &pool[live.size()]->thread;
    *t = Thread{};
    t->name = name, t->body = std::move(body), t->slot = live.size();
    if (Thread* parent = self()) t->armed_by = parent->action_began, t->pass_began = steps;
    live.push_back(t);
    return t;
}

bool block_until(std::function<bool()> ready, bool may_give_up) {
    Thread* t = self();
    if (!t) return !free_run && ready();
    t->ready = std::move(ready), t->may_give_up = may_give_up;
    switch_point();
    const bool held = !free_run && t->ready();
    t->ready = nullptr, t->may_give_up = false;
    return held;
}

void run(const std::vector<int>& prefix, bool traced) {
    forced = prefix;
    decisions.clear(), lines.clear(), violated.clear();
    tracing = traced, steps = 0, rest_limit = rests_per_watcher;
    bool draining = false;
    for (Thread* last = nullptr;;) {
        if (observer) observer();
        Thread* next = pick(last, draining);
        if (!next && draining) return;
        if (!next) {
            draining = true;
            rest_limit += drain_rests;
        } else if (++steps > step_guard) {
            return violation("a schedule ran past the step guard");
        } else {
            resume(last = next);
        }
    }
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
    free_run = true, free_rests = 0;
    stop();
    for (Thread* t : live)
        if (!t->done) resume(t);  // it runs to its end: nothing switches any more
    live.clear();
    free_run = false;
}

}  // namespace explore
