// A systematic interleaving explorer: threads of the plug-in's real logic run one at a time as
// coroutines on one system thread, through every schedule with at most `preemption_bound`
// preemptions; a thread hands the baton back at every switch point (a shared word, a host or
// control call, a rest, a send). Nothing reads a clock: a bound that expires is one more choice.
// Once no thread can go on, the watchers get a few rests more (the drain), so a stopped one ends.
#pragma once

#include <setjmp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace explore {

struct Thread {
    std::string name;
    std::function<void()> body;
    std::function<bool()> ready;  // set while blocked: runs again once it holds
    bool may_give_up = false;     // ...or, as the last choice, without it (a bound expires)
    bool done = false, started = false;
    int rests = 0, kind = -1;  // kind: a watcher's (0 time limit, 1 loop), -1 a player's thread
    std::string action;        // its current action (a word of its script)
    long action_began = 0, armed_by = -1;  // when it began; that of the thread that started it
    // A watcher's pass, from the step its last rest ended: the step of its last position question,
    // the position answered next after the player said whether it plays, if it played then, and
    // the playlist length answered (-2: none; -3: asked), whether it is in a pass and whether it
    // sent a command.
    long pass_began = 0, asked_at = -1;
    int32_t pass_position = -2, listed = -2;
    bool in_pass = false, commanded = false;
    std::vector<const void*> waited_on;  // dialogs its current track close waited on
    jmp_buf resume_at;                   // where it waits for the baton
    size_t slot = 0;                     // the coroutine that runs it
};

inline int preemption_bound = 2;  // a scenario may ask for more
// A watcher's rests, then it waits until the schedule drains; and its rests in the drain.
inline constexpr int rests_per_watcher = 2, drain_rests = 3;

// For the code under exploration and the models; each is a plain call outside a schedule.
void switch_point();
void rest();
Thread* self();  // the calling thread while it is scheduled, else null
Thread* spawn(const std::string& name, std::function<void()> body);
// Whether `ready` held when the thread went on (false: it gave up, or the schedule is over).
bool block_until(std::function<bool()> ready, bool may_give_up = false);
void note(const std::string& what);       // one numbered step of the printed schedule
void violation(const std::string& what);  // of this schedule (each once)

// This schedule's steps so far, threads (in the order they were spawned), traced steps and
// violations; `observer` runs (outside every thread) before every step.
extern long steps;
extern std::vector<Thread*> live;
extern std::vector<std::string> lines, violated;
extern std::function<void()> observer;

// For the driver: runs the threads spawned so far to the end of one schedule: the given prefix of
// choices, then the first choice at each point, then the drain; `traced`: note() keeps the steps.
void run(const std::vector<int>& prefix, bool traced);
bool next_prefix(std::vector<int>& prefix);  // the next in depth-first order, if any
// Ends the schedule's threads (`stop` makes the watchers end) and forgets them.
void finish(const std::function<void()>& stop);

}  // namespace explore
