// The explorer's scenarios, the invariants checked on every schedule, and its main: `[NAME]`
// explores all or NAME alone, `--replay NAME N` prints schedule N of NAME. A new race is a row.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "dialog/dialog_actions.h"
#include "dialog_model.h"
#include "explorer.h"
#include "fake_host.h"
#include "settings/settings.h"
#include "watchers/loop_watcher.h"
#include "watchers/thread.h"
#include "watchers/track_events.h"
#include "watchers/watcher_control.h"

using explore::Thread;
using explore::violation;

// Watcher threads, scheduled by the explorer. Bit 1 of the token is the watcher's kind.
namespace quarvel::threads {
class Rest {};
void rest_1ms(Rest&) {
    explore::rest();
}
bool start_watcher_thread(uint32_t token) {
    const int kind = (token & 2u) != 0;
    Thread* t = explore::spawn(kind ? "loop watcher" : "time watcher", [token] {
        Rest rest;
        quarvel::run_watcher(token, rest);
    });
    if (t) t->kind = kind;
    return t != nullptr;
}
}  // namespace quarvel::threads

namespace {

// The world a scenario begins in, as letters:
//   L  looping armed in the store for the playing track (the section 1000 to 5000 ms)
//   W  ...and its loop watcher runs;  E  the track at the section's end (5000 ms)
//   T  the time limit on in the store, its watcher running;  s  the track has subsongs
//   F  the time limit (2000 ms) lies behind the track's position (3000 ms);  1  one entry
//   K  the player acts on "key128" only later (the position stands meanwhile), as XMPlay does
//   A  ...its output stopping meanwhile: the position answers 0 once, then runs ahead
//   N  the track 200 ms before the limit (with F) or the section's end
//   l, t, S  the dialogs tick looping, the time limit, the per-subsong limit
//   D  the dialogs show the other time limit (60000 ms for F, else 2000 ms)
//   Y  the dialogs show a section typed for the playing track, 2000 to 6000 ms (at 5500 ms)
//   b, a, o  ...the section 200 to 900, 6000 to 8000, 4000 to 6000 ms (at 3000 ms)
// and the player's threads, as scripts ("dialog ..." runs a dialog open already, "open ..."
// opens one); words: the user's inputs ("apply", "ok", "set", "reset", "cancel", "type", "open"),
// track events ("close", "play"), free_instance ("free"), new_instance ("new"), a tool's
// BM_CLICK on Apply in the first or second dialog ("click", "click2"), the playlist becoming one
// or three entries long ("one", "three"), the track playing on to 2500 ms ("late"), a second
// passing on the watchers' clock ("second"), the user's Stop (the output stops, its position
// running 600 ms ahead: "stop") and the output playing again at 100 ms ("again").
struct Row {
    const char *name, *world, *scripts[3];
    int bound = 2;  // preemptions
};

// clang-format off
const Row rows[] = {
    {"dialog opens while the track closes", "L", {"open", "close"}},
    {"Apply arms looping while the track closes", "l", {"dialog apply", "close play"}},
    {"OK while the track closes", "Ll", {"dialog ok", "close"}},
    {"Set now while the track closes", "Ll", {"dialog set", "close play"}},
    {"a tool clicks Apply after a close", "Ll", {"dialog", "close play click"}},
    {"Reset and Apply while the track closes", "Ll", {"dialog reset apply", "close"}},
    {"two closes at once as the dialog is cancelled", "Ll", {"dialog cancel", "close", "close"}},
    {"two closes at once, one on the dialog's thread", "L", {"dialog close play type apply", "close"}},
    {"track open while Apply clears the time limit", "T", {"dialog apply", "play"}},
    {"track open while Apply sets the time limit", "t", {"dialog apply", "play"}},
    {"Apply, both boxes ticked, as the track closes and the next opens", "Llt", {"dialog apply", "close play"}},
    {"a loop pass against quick skipping", "LWE", {"dialog", "close play close"}},
    {"quick skipping against Apply", "Ll", {"dialog apply", "close play close"}},
    {"quick skipping against Set now", "Ll", {"dialog set", "close play close"}},
    {"track events on the dialog's own thread", "LWEl", {"dialog close play apply"}},
    {"the dialog opened twice, a reset owed from the first", "Ll", {"dialog cancel open apply", "close play"}},
    {"two dialogs open, a tool clicks the second", "Ll", {"dialog", "dialog", "close play click2"}},
    {"a section typed after the close's posted reset", "Ll", {"dialog type apply", "close play"}},
    {"a section typed between two closes", "Ll", {"dialog type apply", "close play close"}},
    {"Apply arms a typed section, the old one in Settings", "Yl", {"dialog apply"}},
    {"Apply arms looping over the time limit, free_instance", "lt", {"dialog apply", "free"}},
    {"free_instance, then OK in the open dialog", "l", {"dialog ok", "free"}},
    {"free and new_instance as the loop watcher ends its pass", "LWEl", {"dialog apply", "free new"}},
    {"free, new_instance, track open as the time limit fires", "TF", {"free new play"}},
    {"the time limit fires on one entry, free and new_instance", "TF1t", {"dialog apply", "free new play"}},
    {"Apply sets the time limit as the player renews the instance", "t", {"dialog apply", "free new play"}, 3},
    {"Apply lowers the time limit under the time watcher", "TDt", {"dialog apply"}},
    {"Apply raises the time limit under the time watcher", "TFDt", {"dialog apply", "late"}},
    {"Apply turns the per-subsong limit on, a subsong track past the limit", "TFsSt", {"dialog apply"}},
    {"the playlist shrinks between two triggers", "TF", {"one late"}},
    {"the playlist grows between two triggers", "TF1", {"three late"}},
    {"a subsong track closes, the next plays on past the limit", "TFs", {"close play late"}},
    {"Apply moves the section before the old one", "LWlb", {"dialog apply"}},
    {"Apply moves the section after the old one", "LWla", {"dialog apply"}},
    {"Apply moves the section over the old one's end", "LWlo", {"dialog apply"}},
    {"Set now while looping runs, then Apply", "LWEl", {"dialog set apply"}},
    {"the player acts on key128 later, its output stopping meanwhile", "TFKA", {"close play late"}},
    {"the user stops 200 ms before the time limit, then plays again", "TFN", {"stop again"}},
    {"the user stops 200 ms before the section's end, then plays again", "LWN", {"stop again"}},
    {"the player ignores key128 until a second has passed", "TFK", {"second"}},
};
// The sections that the letters Y, b, a and o type into the dialogs.
const std::tuple<char, const wchar_t*, const wchar_t*> typed[] = {{'Y', L"2000", L"6000"},
    {'b', L"200", L"900"}, {'a', L"6000", L"8000"}, {'o', L"4000", L"6000"}};
// clang-format on

const auto has = [](const Row& r, char c) { return std::strchr(r.world, c) != nullptr; };
// A value of the closed track's: its section and its position.
const auto old_value = [](int32_t v) { return v == 1000 || v == 5000 || v == 3000; };

// What the checks look at, besides the store, the windows and the threads.
struct Seen {
    std::vector<long> closes;                   // the step at which each track close began
    std::vector<std::pair<long, long>> events;  // each close's and open's first and last step
    std::vector<Thread*> dialog_threads;
    std::map<long, size_t> section_of;       // by action: the section it stored
    std::map<long, int32_t> looping_stored;  // by action: the last check_looping it stored
    // The sections that Applies stored (and the one armed before the schedule), in order.
    std::vector<std::pair<int32_t, int32_t>> sections;
    // From a step on, Settings held: the time limit, the loop's start and end.
    std::vector<std::pair<long, std::array<int32_t, 3>>> held;
    // Position played past the limit; times so (or going back so); triggers; the last position;
    // the one the last trigger acted on.
    int past = 0, crossings = 0, moves = 0, last = -1, triggered_at = 0;
    long apply_ended = -1;
    // The watchers' clock; as the time watcher read it last before a trigger, and last in the
    // pass of the last trigger; whether it read a position within the limit or below the
    // trigger's since; whether the next position answers 0, then runs ahead (world A).
    uint32_t closes_begun = 0, clock = 0, hold_read = 0, trigger_clock = 0;
    bool live = true, time_expected = true, read_within = false, zero_once = false;
} seen;
int32_t position_answer = -1;

const auto begins = [](const std::string& text, const char* with) { return !text.rfind(with, 0); };
const auto value_of = [](const std::string& c) { return std::atoi(&c[c.find_last_of("= ") + 1]); };

// Whether Settings held a value (0 limit, 1 start, 2 end) that `is` takes during the pass that
// the watcher `t` is in (from the end of its last rest on).
bool held(const Thread& t, size_t value, const std::function<bool(int32_t)>& is) {
    for (size_t i = seen.held.size(); i-- > 0;)
        if (is(seen.held[i].second[value]) || seen.held[i].first <= t.pass_began)
            return is(seen.held[i].second[value]);
    return false;
}

// A watcher's host call: a step of its pass, which runs from the end of a rest to the next
// (a watcher that waits for the one it replaces rests without making calls).
void watcher_call(Thread& t, const std::string& call) {
    if (!std::exchange(t.in_pass, true)) t.pass_position = t.listed = -2, t.commanded = false;
    for (const Thread* o : explore::live)
        if (o != &t && o->kind == t.kind && o->in_pass && !o->done)
            violation("two watchers of one kind inside their passes");
    if (call == "position") t.asked_at = explore::steps;
    if (call == "output_playing")
        t.pass_position = -3;  // the next position question answers it
    else if (call == "position" && t.pass_position == -3)
        t.pass_position = fake::player().output_playing ? position_answer : -2;
    if (call == "position" && t.kind == 0)
        seen.read_within |= position_answer <= std::max(seen.held.back().second[0], 0) ||
                            position_answer < seen.triggered_at;
    if (call == "playlist_length") t.listed = fake::player().playlist_length;
    if (begins(call, "command ") && !std::exchange(t.commanded, true)) {  // a trigger
        if (!held(t, 0, [&](int32_t limit) { return limit > 0 && t.pass_position > limit; }))
            violation("a time-limit command from a pass that read no position played past a limit");
        // One trigger per crossing, and one more only once the hold-off has passed.
        const bool renewed = seen.moves && seen.hold_read - seen.trigger_clock >= 1000;
        if (++seen.moves > seen.crossings + renewed)
            violation("a crossed time limit moved the player on twice");
        seen.crossings += renewed && seen.moves > seen.crossings;
        seen.read_within = false, seen.triggered_at = t.pass_position;
    }
    const bool single = call == "command key81" || call == "command key80";
    if ((single || call == "command key128") && (t.listed == -2 || single != (t.listed == 1)))
        violation("a trigger's commands do not match the playlist length the player reported");
    if (!begins(call, "jump ")) return;
    for (long began : seen.closes)
        if (t.armed_by < began && began < t.asked_at)
            violation("a loop pass jumped on a position asked after a track close began");
    // A view of the section calls for it: a stored section, or for a pass the new start with an
    // older end (the pass found it not empty with the old start), both held during the pass.
    const int32_t target = value_of(call), p = t.pass_position;
    if (p < -1) violation("a jump from a pass that read no position while the output played");
    bool called_for = false;
    for (size_t i = 0; i < seen.sections.size(); ++i)
        for (size_t j = 0; j <= i; ++j) {
            const int32_t start = seen.sections[i].first, end = seen.sections[j].second;
            called_for |= start == target && end != 0 && (end != start || j < i) &&
                          (p >= end || int64_t{p} + quarvel::loop_lead_tolerance_ms <= start) &&
                          held(t, 1, [&](int32_t v) { return v == start; }) &&
                          held(t, 2, [&](int32_t v) { return v == end; });
        }
    if (!called_for) violation("a jump that no view of a stored section calls for");
}

// Every host call: a step, and for a watcher a step of its pass.
void on_call(const std::string& call) {
    Thread* t = explore::self();
    if (!t) return;
    if (!begins(call, "tag") && !begins(call, "release")) explore::switch_point();
    explore::note(call);
    // The position as the player reads it for its answer (the dialog may take messages meanwhile).
    position_answer = fake::player().position;
    if (call == "position" && std::exchange(seen.zero_once, false)) fake::player().position = 3600;
    if (t->kind >= 0) {
        watcher_call(*t, call);
    } else if (t->action == "apply" || t->action == "ok") {
        const long a = t->action_began;
        if (begins(call, "write start_loop_time") && !seen.section_of.count(a))
            seen.section_of[a] = seen.sections.size(),
            seen.sections.emplace_back(value_of(call), 0);
        const auto own = seen.section_of.find(a);  // its end 0 until it is stored
        if (begins(call, "write end_loop_time") && own != seen.section_of.end() &&
            !seen.sections[own->second].second)
            seen.sections[own->second].second = value_of(call);
        if (begins(call, "write check_looping")) seen.looping_stored[a] = value_of(call);
    }
    // Waiting, a dialog's thread takes messages sent to it: a close's worth (a reset, 3 changes).
    const bool message = call == "position" || call == "length" || begins(call, "jump");
    for (int i = 0; i < 3 && message && explore::window_of(t); ++i)
        explore::switch_point(), explore::take_sent();
}

void act(const std::string& word) {
    if (!explore::self()) return;  // the schedule is over (the step guard cut it short)
    Thread& t = *explore::self();
    const auto outer = std::make_pair(t.action, t.action_began);  // a click taken inside Apply
    std::tie(t.action, t.action_began) = std::make_pair(word, explore::steps);
    static const std::set<std::string> inputs{"apply",  "ok",   "set", "reset",
                                              "cancel", "type", "open"};
    explore::note(inputs.count(word) ? "user: " + word : word);
    if (word == "close" || word == "play") {  // the player tells of its track: closed, or the next
        const bool playing = word == "play";
        fake::player().position = playing ? 0 : -1, fake::player().length = playing ? 10000 : -1;
        fake::player().playing = fake::player().output_playing = playing;
        t.waited_on.clear();
        quarvel::new_track(playing ? "next.mp3" : nullptr, quarvel::clear_looping_in_open_dialogs);
        // It starts the time limit's watcher, unless an Apply that ends later stops it.
        seen.time_expected |= playing && t.action_began > seen.apply_ended;
        seen.events.emplace_back(t.action_began, explore::steps);
    } else if (word == "free") {
        seen.live = false, quarvel::end_instance();
    } else if (word == "new") {
        quarvel::load_settings(), quarvel::begin_instance();
        seen.live = true, seen.time_expected = false;
    } else if (word == "one" || word == "three") {
        fake::player().playlist_length = word == "one" ? 1 : 3;
    } else if (word == "late") {
        fake::player().position = 2500;
    } else if (word == "stop" || word == "again") {  // its position runs ahead, or from 100 ms
        fake::player().output_playing = word == "again";
        fake::player().position = word == "again" ? 100 : fake::player().position + 600;
    } else if (word == "second") {
        seen.clock += 1000;
    } else if (begins(word, "click")) {
        explore::click_apply(seen.dialog_threads.at(word == "click2"));
    } else {
        explore::input(word);
        if (word == "apply" || word == "ok")
            seen.time_expected = seen.looping_stored[t.action_began] != 1,
            seen.apply_ended = explore::steps;
    }
    std::tie(t.action, t.action_began) = outer;
}

void set_up(const Row& row) {
    fake::reset();
    position_answer = -1;
    fake::Player& player = fake::player();
    player.log_enabled = false;
    player.on_call.keep(on_call);
    player.position_script.keep([] { return position_answer; });
    // The player moves on: stopped ("key81"), or the next entry from 0 (later, for "key128" in K,
    // its output stopping meanwhile in A: 0 once, then ahead).
    player.on_command.keep([late = has(row, 'K'), ahead = has(row, 'A')](const std::string& c) {
        if (c != "key128" || !late || ahead) fake::player().position = c == "key81" ? -1 : 0;
        if (c == "key128") seen.zero_once = ahead, fake::player().output_playing = !ahead;
    });
    const int32_t limit = has(row, 'F') ? 2000 : 60000;
    player.position = has(row, 'E') ? 5000 : has(row, 'Y') ? 5500 : 3000;
    if (has(row, 'N')) player.position = (has(row, 'F') ? limit : 5000) - 200;
    player.length = 10000, player.playing = true;
    player.playlist_length = has(row, '1') ? 1 : 3;
    player.store = {
        {"check_time_limit", has(row, 'T')}, {"time_limit", limit},     {"subsong_limit", 0},
        {"check_looping", has(row, 'L')},    {"start_loop_time", 1000}, {"end_loop_time", 5000}};
    quarvel::load_settings();
    explore::windows.clear();
    seen = Seen{};
    seen.held = {{-1, {limit, 1000, 5000}}};
    seen.crossings = seen.past = player.position > limit;
    quarvel::has_subsongs = has(row, 's');
    seen.closes_begun = quarvel::track_close_stamp() >> 8;
    if (has(row, 'W'))  // armed before the schedule
        seen.sections = {{1000, 5000}}, quarvel::start_loop_watcher(quarvel::track_close_stamp());
    if (has(row, 'T')) quarvel::start_time_watcher();
    int players = 0;
    for (const char* script : row.scripts) {
        if (!script) break;
        std::string words = script;
        const bool shown = begins(words, "dialog"), dialog = shown || begins(words, "open");
        const std::string name = dialog ? "dialog " + std::to_string(seen.dialog_threads.size() + 1)
                                 : players++ ? "other"
                                             : "playback";
        Thread* t = explore::spawn(
            name, [words = words.substr(shown ? 6 : 0)] { explore::run_thread(words); });
        if (dialog) seen.dialog_threads.push_back(t);
        if (!shown) continue;
        auto& w = explore::add_window(t);
        w.boxes = {{200, has(row, 't')}, {400, has(row, 'S')}, {1000, has(row, 'l')}};
        const int32_t shown_limit = !has(row, 'D') ? limit : has(row, 'F') ? 60000 : 2000;
        w.texts = {{300, std::to_wstring(shown_limit)}, {1100, L"1000"}, {1200, L"5000"}};
        for (auto [letter, start, end] : typed)
            if (has(row, letter)) w.texts[1100] = start, w.texts[1200] = end;
    }
}

// Once the schedule has drained.
void check_the_end() {
    fake::Player& player = fake::player();
    const auto stored = [&](const char* key) { return player.stored(key).value_or(-1); };
    const auto section_stored = [&](int32_t looping, int32_t start, int32_t end) {
        return stored("check_looping") == looping && stored("start_loop_time") == start &&
               stored("end_loop_time") == end;
    };
    const long last_close = seen.closes.empty() ? -1 : seen.closes.back();
    long last_apply = -1;
    for (auto& w : explore::windows) last_apply = std::max(last_apply, w->applied_at);
    if (last_close >= 0 &&
        (old_value(stored("start_loop_time")) || old_value(stored("end_loop_time"))))
        violation("the closed track's section is stored");
    if (last_close >= 0 && last_apply < last_close && !section_stored(0, 0, 0))
        violation("looping is not cleared in the store after the close");
    for (auto& w : explore::windows) {
        // A section typed while the track plays, no track event after it: Apply stores and arms it.
        bool undisturbed = w->typed_at >= 0 && w->applied_at > w->typed_at && player.playing;
        for (auto& e : seen.events) undisturbed &= e.second < w->typed_at;
        if (undisturbed && !section_stored(1, 2000, 6000))
            violation("Apply did not store the section typed after the last close");
        if (!w->open || last_close < 0) continue;
        for (int field : {1100, 1200})
            if (old_value(std::wcstol(w->texts[field].c_str(), nullptr, 10)))
                violation("the closed track's section is shown");
        if (w->shown_at < last_close &&
            (w->boxes[1000] || w->texts[1100] != L"0" || w->texts[1200] != L"0"))
            violation("looping is not cleared in a dialog after the close");
    }
    // Watchers run as their flags say: a stopped or replaced one has ended, waiting or not.
    const bool runs[2] = {quarvel::time_watch_running(), quarvel::loop_watch_running()};
    const Thread* alive[2] = {nullptr, nullptr};
    for (const Thread* t : explore::live)
        if (t->kind >= 0 && !t->done) {
            if (alive[t->kind] || !runs[t->kind])
                violation("a stopped or replaced watcher stays behind");
            alive[t->kind] = t;
        }
    if (!seen.live && (runs[0] || runs[1])) violation("a watcher runs after free_instance");
    if (runs[0] && stored("check_time_limit") != 1)
        violation("a time watcher runs with check_time_limit 0");
    if (runs[1] && (stored("check_looping") != 1 || (alive[1] && alive[1]->armed_by < last_close)))
        violation("a loop watcher runs that no Apply since the last close armed");
    // After a track open, or an Apply that armed no looping, the time limit in the store runs.
    if (seen.live && stored("check_time_limit") == 1 && stored("check_looping") == 0 &&
        seen.time_expected && !runs[0])
        violation("no time watcher runs with the time limit on and looping off");
    const int32_t limit = quarvel::get(quarvel::settings.time_limit);
    // ...unless the watcher holds off: it read no position within the limit since its last
    // trigger, and no second has passed since that trigger's end.
    const bool holding = seen.moves && !seen.read_within && seen.clock - seen.trigger_clock < 1000;
    if (runs[0] && limit > 0 && player.position > limit && player.output_playing && !holding &&
        (!quarvel::has_subsongs || quarvel::get(quarvel::settings.subsong_limit)))
        violation("the position stays past the time limit, and no command followed");
}

// One schedule of a scenario, from its set-up to its end; whether it kept every invariant.
bool run_schedule(const Row& row, const std::vector<int>& prefix, bool traced) {
    set_up(row);
    explore::run(prefix, traced);
    check_the_end();
    return explore::violated.empty();
}

// Every schedule of a scenario (up to `replay`): prints the first violating or the replayed one.
void explore_row(const Row& row, long replay) {
    long number = 0, failures = 0;
    explore::preemption_bound = row.bound;
    std::vector<int> prefix;
    std::set<std::string> tripped;  // every check that some schedule violated
    do {
        ++number;
        const bool kept = run_schedule(row, prefix, false);
        tripped.insert(explore::violated.begin(), explore::violated.end());
        if ((!kept && !failures++ && !replay) || number == replay) {
            explore::finish(quarvel::end_instance);  // both watchers stopped
            run_schedule(row, prefix, true);         // the same schedule again, its steps noted
            std::printf("scenario \"%s\", schedule %ld (%ld steps):%s\n", row.name, number,
                        explore::steps, kept ? " no violation" : "");
            for (auto& v : explore::violated) std::printf("  VIOLATION: %s\n", v.c_str());
            for (auto& line : explore::lines) std::printf("    %s\n", line.c_str());
            std::printf("  replay: interleaving_explorer --replay \"%s\" %ld\n", row.name, number);
        }
        explore::finish(quarvel::end_instance);  // both watchers stopped
    } while ((!replay || number < replay) && explore::next_prefix(prefix));
    std::printf("  %-66s %6ld schedules, %ld violating\n", row.name, number, failures);
    for (auto& check : tripped) std::printf("    tripped: %s\n", check.c_str());
    std::printf("= %ld %ld\n", number, failures);
}

}  // namespace

// The watchers' clock: the time watcher's readings, before its pass's commands and after them.
uint32_t quarvel::threads::now_ms() {
    explore::switch_point();
    if (Thread* t = explore::self(); t && t->kind == 0)
        (t->commanded ? seen.trigger_clock : seen.hold_read) = seen.clock;
    return seen.clock;
}

int main(int argc, char** argv) {
    const bool replaying = argc == 4 && std::strcmp(argv[1], "--replay") == 0;
    const char* only = replaying ? argv[2] : argc == 2 ? argv[1] : nullptr;
    explore::perform = act;
    explore::observer = [] {
        // The time limit in Settings, and whether the position lies past it.
        using quarvel::get, quarvel::settings;
        const std::array<int32_t, 3> now{get(settings.time_limit), get(settings.start_loop_time),
                                         get(settings.end_loop_time)};
        if (now != seen.held.back().second) seen.held.emplace_back(explore::steps, now);
        const int32_t position = fake::player().position;
        const bool past = now[0] > 0 && position > now[0] && fake::player().output_playing;
        seen.crossings += past && (!seen.past || position < seen.last);  // or went back
        seen.past = past, seen.last = position;
        // Bits 8-31 of the close stamp count the closes begun.
        const uint32_t begun = quarvel::track_close_stamp() >> 8;
        if (begun != std::exchange(seen.closes_begun, begun)) seen.closes.push_back(explore::steps);
    };
    // Each scenario in a process of its own, all at once; reports in table order, ending in counts.
    std::vector<std::pair<pid_t, FILE*>> reports;
    std::fflush(stdout);
    for (const Row& row : rows) {
        if (only && std::strcmp(only, row.name) != 0) continue;
        FILE* report = std::tmpfile();
        const pid_t child = fork();
        if (child == 0) {
            dup2(fileno(report), STDOUT_FILENO);
            explore_row(row, replaying ? std::atol(argv[3]) : 0);
            std::fflush(stdout), _exit(0);
        }
        reports.emplace_back(child, report);
    }
    long schedules = 0, failed = 0;
    for (auto [child, report] : reports) {
        waitpid(child, nullptr, 0), std::rewind(report);
        long counts[2] = {0, -1};
        for (char line[4096]; std::fgets(line, sizeof line, report);)
            if (std::sscanf(line, "= %ld %ld", &counts[0], &counts[1]) != 2)
                std::fputs(line, stdout);
        if (counts[1] < 0) std::printf("  (a scenario's process died)\n");
        schedules += counts[0], failed += counts[1] < 0 ? 1 : counts[1];
    }
    std::printf("explorer: %zu scenarios, %ld schedules, %ld violations\n", reports.size(),
                schedules, failed);
    return failed || reports.empty() ? 1 : 0;
}
