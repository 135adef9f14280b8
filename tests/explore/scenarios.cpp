// The interleaving explorer's scenarios, the invariants it checks on every schedule, and its
// main. A race found later becomes one more row of `rows`.
//
//   interleaving_explorer                  every scenario; one summary line
//   interleaving_explorer NAME             scenario NAME alone
//   interleaving_explorer --replay NAME N  schedule N of scenario NAME, step by step
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "dialog/dialog_actions.h"
#include "dialog_model.h"
#include "explorer.h"
#include "fake_host.h"
#include "settings/settings.h"
#include "watchers/thread.h"
#include "watchers/track_events.h"
#include "watchers/watcher_control.h"

using explore::dialog;
using explore::Thread;

namespace {

struct Row {
    const char* name;
    const char* dialog;    // its inputs; unless the first is "open", it shows the section already
    const char* playback;  // track events ("close", "play") and "free" (free_instance)
    const char* other;     // a second thread: the same, or "click" (a tool's BM_CLICK on Apply)
    int looping;           // 1: armed for the playing track in the store, 2: its watcher runs too
    bool loop_box;         // ticked in the dialog, with the playing track's section typed
    bool time_stored;      // check_time_limit stored (its watcher running)
    bool time_box;
};

const Row rows[] = {
    {"dialog opens while the track closes", "open", "close", "", 1, true, false, false},
    {"Apply arms looping while the track closes", "apply", "close play", "", 0, true, false, false},
    {"OK while the track closes", "ok", "close", "", 1, true, false, false},
    {"Set now while the track closes", "set", "close play", "", 1, true, false, false},
    {"a tool clicks Apply after a close", "", "close play", "click", 1, true, false, false},
    {"Reset and Apply while the track closes", "reset apply", "close", "", 1, true, false, false},
    {"two closes at once as the dialog is cancelled", "cancel", "close", "close", 1, true, false,
     false},
    {"track open while Apply clears the time limit", "apply", "play", "", 0, false, true, false},
    {"track open while Apply sets the time limit", "apply", "play", "", 0, false, false, true},
    {"Apply arms looping over the time limit, free_instance", "apply", "free", "", 0, true, false,
     true},
};

// A value of the closed track's: its section and its position.
bool old_value(int32_t value) {
    return value == 1000 || value == 5000 || value == 3000;
}

struct Close {
    long began, ended;
};
std::vector<Close> closes;
uint32_t closes_seen = 0;
std::vector<const Thread*> inside[2];  // per kind, the watchers in the order they made calls
long loop_armed_by = -1;
std::vector<std::string> violations;

void violation(const std::string& what) {
    if (violations.empty() || violations.back() != what) violations.push_back(what);
}

bool is_message(const std::string& call) {
    return call == "position" || call == "length" || call == "playlist_length" ||
           call.rfind("jump", 0) == 0;
}

// Every host call: a step, and for a watcher the start of (or a step in) a pass.
int32_t position_answer = -1;

void on_call(const std::string& call) {
    const Thread* t = explore::self();
    if (!t) return;
    if (call.rfind("tag", 0) != 0 && call.rfind("release", 0) != 0) explore::switch_point();
    explore::note(call);
    // The position as the player reads it for its answer; the dialog's thread may take sent
    // messages while it waits for that answer.
    position_answer = fake::player().position;
    if (t->watcher_kind >= 0) {
        auto& order = inside[t->watcher_kind];
        if (order.empty() || order.back() != t) {
            if (std::find(order.begin(), order.end(), t) != order.end())
                violation("two watchers of one kind inside their passes");
            order.push_back(t);
        }
    }
    if (t->watcher_kind == 1)
        for (const Close& c : closes)
            if (c.began < t->pass_began && t->armed_by < c.ended)
                violation("a loop pass began after a track close began");
    // Waiting for the answer, the dialog's thread takes the messages sent to it, up to one
    // track close's worth (a reset, or three changes).
    for (int i = 0; i < 3 && t == dialog.thread && is_message(call); ++i) {
        explore::switch_point();
        explore::take_sent();
    }
}

void act(const std::string& action) {
    fake::Player& player = fake::player();
    explore::self()->action_began = explore::step();
    explore::note(action);
    if (action == "close") {  // the player has closed the track when it tells the plug-in
        player.position = -1;
        player.length = -1;
        player.playing = false;
        explore::close_sends = 0;
        quarvel::new_track(nullptr, quarvel::clear_looping_in_open_dialog);
        if (explore::close_sends > 1) violation("a close waited on the dialog more than once");
        for (Close& c : closes)
            if (c.ended == LONG_MAX) {
                c.ended = explore::step();
                break;
            }
    } else if (action == "play") {
        player.position = 700;
        player.length = 10000;
        player.playing = true;
        quarvel::new_track("next.mp3", quarvel::clear_looping_in_open_dialog);
    } else if (action == "free") {
        quarvel::stop_time_watcher();
        quarvel::stop_loop_watcher();
    } else if (action == "click") {
        explore::click_apply();
    }
}

void spawn_actions(const char* name, const std::string& actions) {
    if (actions.empty()) return;
    explore::spawn(name, [actions] {
        std::istringstream words(actions);
        for (std::string action; words >> action;) act(action);
    });
}

void set_up(const Row& row) {
    fake::reset();
    quarvel::begin_loop_handler(&dialog);  // runs a reset left owed by the previous schedule
    fake::Player& player = fake::player();
    player.log_enabled = false;
    player.on_call = on_call;
    player.position_script = [] { return position_answer; };
    player.position = 3000;
    player.length = 10000;
    player.playing = true;
    player.playlist_length = 3;
    player.store = {
        {"check_time_limit", row.time_stored}, {"time_limit", 60000},     {"subsong_limit", 0},
        {"check_looping", row.looping > 0},    {"start_loop_time", 1000}, {"end_loop_time", 5000}};
    quarvel::set(quarvel::settings.check_time_limit, row.time_stored);
    quarvel::set(quarvel::settings.time_limit, 60000);
    quarvel::set(quarvel::settings.start_loop_time, 1000);
    quarvel::set(quarvel::settings.end_loop_time, 5000);
    dialog = {};
    explore::forget_messages();
    if (std::strncmp(row.dialog, "open", 4) != 0) {
        dialog.open = true;
        dialog.boxes = {{200, row.time_box}, {400, false}, {1000, row.loop_box}};
        dialog.texts = {{300, L"60000"}, {1100, L"1000"}, {1200, L"5000"}};
    }
    closes.clear();
    inside[0].clear();
    inside[1].clear();
    loop_armed_by = -1;
    violations.clear();
    if (row.looping == 2) quarvel::start_loop_watcher(quarvel::track_close_stamp());
    if (row.time_stored) quarvel::start_time_watcher();
    dialog.thread = explore::spawn(
        "dialog", [inputs = std::string(row.dialog)] { explore::run_dialog(inputs); });
    spawn_actions("playback", row.playback);
    spawn_actions("other", row.other);
}

// Once every thread is done and the dialog is free.
void check_the_end() {
    fake::Player& player = fake::player();
    const auto stored = [&](const char* key) { return player.stored(key).value_or(-1); };
    if (!closes.empty()) {
        for (const char* key : {"start_loop_time", "end_loop_time"})
            if (old_value(stored(key))) violation("the closed track's section is stored");
        for (int field : {1100, 1200})
            if (dialog.open && old_value(std::wcstol(dialog.texts[field].c_str(), nullptr, 10)))
                violation("the closed track's section is shown");
        const bool cleared = stored("check_looping") == 0 && stored("start_loop_time") == 0 &&
                             stored("end_loop_time") == 0 &&
                             (!dialog.open || (!dialog.boxes[1000] && dialog.texts[1100] == L"0" &&
                                               dialog.texts[1200] == L"0"));
        if (dialog.handler_began < closes.back().began && !cleared)
            violation("looping is not cleared after the close");
    }
    if (quarvel::time_watch_running() && stored("check_time_limit") == 0)
        violation("a time watcher runs with check_time_limit 0");
    if (quarvel::loop_watch_running() &&
        (stored("check_looping") != 1 || (!closes.empty() && loop_armed_by < closes.back().began)))
        violation("a loop watcher runs that no Apply since the last close armed");
}

void stop_everything() {
    quarvel::stop_time_watcher();
    quarvel::stop_loop_watcher();
}

}  // namespace

// Watcher threads, scheduled by the explorer. Bit 1 of the token is the watcher's kind.
namespace quarvel::threads {
class Rest {};
void rest_1ms(Rest&) {
    explore::rest();
}
bool start_watcher_thread(uint32_t token) {
    const bool loop = (token & 2u) != 0;
    Thread* t = explore::spawn(loop ? "loop watcher" : "time watcher", [token] {
        Rest rest;
        quarvel::run_watcher(token, rest);
    });
    if (!t) return false;
    t->watcher_kind = loop;
    if (loop) loop_armed_by = t->armed_by;
    return true;
}
}  // namespace quarvel::threads

namespace {

// Every schedule of one scenario (up to schedule `replay` alone, when it is given): prints the
// first violating one, or the one replayed, and the scenario's line; returns its two counts.
std::pair<long, long> explore_row(const Row& row, long replay) {
    long number = 0, failures = 0;
    std::vector<int> prefix;
    do {
        ++number;
        closes_seen = quarvel::track_close_stamp() >> 8;
        set_up(row);
        if (!explore::run(prefix)) violation("a schedule ran past the step guard");
        if (violations.empty()) check_the_end();
        const bool shown = replay ? number == replay : !violations.empty() && !failures;
        failures += !violations.empty();
        if (shown) {
            std::printf("scenario \"%s\", schedule %ld (%ld steps):%s\n", row.name, number,
                        explore::step(), violations.empty() ? " no violation" : "");
            for (auto& v : violations) std::printf("  VIOLATION: %s\n", v.c_str());
            for (auto& line : explore::trace()) std::printf("    %s\n", line.c_str());
            std::printf("  replay: interleaving_explorer --replay \"%s\" %ld\n", row.name, number);
        }
        explore::finish(stop_everything);
    } while ((!replay || number < replay) && explore::next_prefix(prefix));
    std::printf("  %-58s %6ld schedules, %ld violating\n", row.name, number, failures);
    return {number, failures};
}

}  // namespace

int main(int argc, char** argv) {
    const bool replaying = argc == 4 && std::strcmp(argv[1], "--replay") == 0;
    const char* only = replaying ? argv[2] : argc == 2 ? argv[1] : nullptr;
    explore::set_observer([] {
        // Bits 8-31 of the close stamp count the closes begun.
        const uint32_t begun = quarvel::track_close_stamp() >> 8;
        if (begun != closes_seen) closes.push_back({explore::step(), LONG_MAX});
        closes_seen = begun;
    });
    // Each scenario in a process of its own, all at once (the machine's cores share them); their
    // reports in table order, each ending in a line with its two counts.
    std::vector<std::pair<pid_t, FILE*>> children;
    for (const Row& row : rows) {
        if (only && std::strcmp(only, row.name) != 0) continue;
        FILE* report = std::tmpfile();
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            dup2(fileno(report), STDOUT_FILENO);
            const auto counts = explore_row(row, replaying ? std::atol(argv[3]) : 0);
            std::printf("%ld %ld\n", counts.first, counts.second);
            std::fflush(stdout);
            _exit(0);
        }
        children.emplace_back(child, report);
    }
    long schedules = 0, failed = 0;
    int lost = 0;
    for (auto& [child, report] : children) {
        int status = 0;
        waitpid(child, &status, 0);
        std::rewind(report);
        std::vector<std::string> lines;
        for (char line[4096]; std::fgets(line, sizeof line, report);) lines.emplace_back(line);
        long counts[2] = {0, 0};
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || lines.empty() ||
            std::sscanf(lines.back().c_str(), "%ld %ld", &counts[0], &counts[1]) != 2) {
            ++lost;  // the scenario's process died: what it printed says where
            lines.emplace_back("  (the scenario's process died)\n");
        } else {
            lines.pop_back();
        }
        for (auto& line : lines) std::fputs(line.c_str(), stdout);
        schedules += counts[0];
        failed += counts[1];
    }
    std::printf("explorer: %zu scenarios, %ld schedules, %ld violations (preemption bound %d)\n",
                children.size(), schedules, failed + lost, explore::preemption_bound);
    return failed || lost || children.empty() ? 1 : 0;
}
