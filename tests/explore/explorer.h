// A systematic interleaving explorer: runs threads of the plug-in's real logic one at a time
// and tries every schedule with at most `preemption_bound` preemptions (context bounding).
//
// Each thread is a real thread that waits for the baton. It hands the baton on at every switch
// point: a shared word's access (settings/shared_word.h), a host or control call, a rest, a send
// to the dialog. There the explorer picks the next thread: going on with the same one is free,
// picking another while it could go on is a preemption, and a thread that blocks (a send not yet
// answered, a dialog with nothing to do) lets another run for free. Nothing reads a clock: a
// send whose bound expires is one more choice.
#pragma once

#include <condition_variable>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace explore {

struct Thread {
    std::string name;
    std::function<bool()> ready;     // set while blocked: runs again once it holds
    const bool* answered = nullptr;  // set while sending: choosing it means the bound expired
    bool done = false;
    int rests = 0;
    int watcher_kind = -1;         // 0 time limit, 1 loop, -1 not a watcher
    long armed_by = 0;             // a watcher: the step at which the action that started it began
    long action_began = 0;         // the step at which its current action began
    long pass_began = 0;           // a watcher: the step at which its last rest ended
    std::condition_variable turn;  // woken when the baton comes to it
    std::thread os;
};

inline constexpr int preemption_bound = 2;
inline constexpr int rests_per_watcher = 1;  // a watcher that rests once more is parked

// For the code under exploration and the models; each is a plain call outside a schedule.
void switch_point();
void rest();
Thread* self();  // the calling thread while it is scheduled, else null
Thread* spawn(const std::string& name, std::function<void()> body);
bool block_until(std::function<bool()> ready);  // false when the schedule is over
bool await_answer(const bool& answered);        // false when the bound expired first
void note(const std::string& what);             // one numbered step of the printed schedule
long step();

// For the driver. `observe` runs (without switch points) at every step.
void set_observer(std::function<void()> observe);
// Runs the threads spawned so far to the end of one schedule: the given prefix of choices,
// then the first choice at each point. Returns false when a thread ran away (a step guard).
bool run(const std::vector<int>& prefix);
// The choices of the schedule just run and the next prefix in depth-first order, if any.
bool next_prefix(std::vector<int>& prefix);
// Ends the schedule's threads (`stop` makes the watchers end) and forgets them.
void finish(const std::function<void()>& stop);
const std::vector<std::string>& trace();

}  // namespace explore
