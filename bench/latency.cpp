// How quickly the plug-in reacts, measured in the simulated player playing in real time:
// from the moment the position first passes the time limit (or reaches the loop section's
// end) until the command (or jump) reaches the player. Measured with the rest the plug-in
// takes (its high-resolution timer) and with that timer refused, as on Windows before 10
// version 1803, so that it rests with Sleep(1). Also the length of the two kinds of rest
// themselves, what one host message costs, and how many host calls an idle watcher pass
// makes. Prints figures; asserts nothing.
//
// The same program runs on Windows: copy it next to xmp-quarvel.dll and start it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "late_bound.h"
#include "resource_ids.h"
#include "rest_watch.h"
#include "sim_player.h"

namespace {

// A tenth of each with --quick (a check that the benchmark runs, not a measurement).
size_t samples = 500;
int rests = 2000;
constexpr DWORD high_resolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

enum class PluginRest { as_built, sleep_forced };

const char* label(PluginRest rest) {
    return rest == PluginRest::as_built ? "(plug-in's timer)" : "(Sleep(1) forced)";
}

std::string key(const char* name) {
    return std::string("QUARVEL/") + name;
}

bool start(sim::Player& player, std::map<std::string, int32_t> store, PluginRest rest) {
    player.set_store(std::move(store));
    std::string error;
    if (!player.load(sim::program_directory() + L"xmp-quarvel.dll", &error)) {
        std::fprintf(stderr, "latency_bench: %s\n", error.c_str());
        return false;
    }
    const sim::Timers timers = rest == PluginRest::sleep_forced
                                   ? sim::Timers::refused
                                   : sim::Timers::as_the_system_has_them;
    if (!sim::watch_rests(player.module(), timers) || !player.bind(1)) {
        std::fprintf(stderr, "latency_bench: cannot bind the plug-in or watch its rests\n");
        return false;
    }
    player.start_instance();
    return true;
}

double at(const std::vector<double>& sorted, double fraction) {
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999);
    return sorted[std::min(sorted.size() - 1, rank > 0 ? rank - 1 : 0)];
}

void report(const std::string& what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-40s no samples\n", what.c_str());
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s p50 %.2f ms   p90 %.2f ms   p99 %.2f ms   max %.2f ms   (n=%zu)\n",
                what.c_str(), at(ms, 0.5), at(ms, 0.9), at(ms, 0.99), ms.back(), ms.size());
}

// --- The rest itself ------------------------------------------------------------------------

double now_ms() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// How long each of `rests` runs of `step` lasts.
template <class Step>
std::vector<double> time_each(Step step) {
    std::vector<double> out;
    out.reserve(rests);
    for (int i = 0; i < rests; ++i) {
        const double begin = now_ms();
        step();
        out.push_back(now_ms() - begin);
    }
    return out;
}

void rest_lengths() {
    report("rest Sleep(1)", time_each([] { Sleep(1); }));
    HANDLE timer = sim::create_waitable_timer_ex(nullptr, nullptr, high_resolution,
                                                 TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (!timer) {
        std::printf("%-40s not available here (error %lu)\n", "rest high-resolution timer",
                    GetLastError());
        return;
    }
    report("rest high-resolution timer", time_each([timer] {
               LARGE_INTEGER due;
               due.QuadPart = -10000;
               SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
               WaitForSingleObject(timer, INFINITE);
           }));
    CloseHandle(timer);
}

// What one of the watcher's questions costs: a position message to the player's window from
// another thread, as a watcher sends it.
void message_round_trips() {
    sim::Player player;
    player.quiet_positions = true;
    player.set_playlist({{"a.mp3", 600000}});
    player.play(0);
    const HWND window = player.window();
    report("host message round trip",
           time_each([window] { SendMessageW(window, WM_USER, 0, 105); }));
}

// --- Reactions ------------------------------------------------------------------------------

// The position first exceeds limit L once L + 1 ms have passed since the track began.
std::vector<double> time_limit_latency(PluginRest rest) {
    constexpr int32_t limit = 20;
    sim::Player player;
    player.quiet_positions = true;
    player.set_playlist({{"a.mp3", 600000}, {"b.mp3", 600000}});
    player.next_entry_delay_ms = 0;  // the reaction ends at the command; the switch is the player's
    if (!start(player, {{key("check_time_limit"), 1}, {key("time_limit"), limit}}, rest)) return {};
    player.play(0);
    sim::wait_until([&] { return player.count("command key128") >= samples; }, 60000);
    player.unload();
    std::vector<double> out;
    for (auto& e : player.events("command key128")) out.push_back(e.track_ms - (limit + 1));
    return out;
}

// The position reaches the section's end E once E ms have passed since the last jump.
std::vector<double> loop_latency(PluginRest rest) {
    constexpr int32_t begin = 200, end = 230;
    sim::Player player;
    player.quiet_positions = true;
    player.set_playlist({{"a.mp3", 600000}});
    if (!start(player, {}, rest)) return {};
    player.play(0);
    HWND dialog = player.open_config();
    if (!dialog) return {};
    sim::set_box(dialog, IDC_LOOP_ENABLE, true);
    sim::type(dialog, IDC_LOOP_START, std::to_wstring(begin).c_str());
    sim::type(dialog, IDC_LOOP_END, std::to_wstring(end).c_str());
    sim::click(dialog, IDOK);
    sim::gone(dialog);
    player.clear_events();
    sim::wait_until([&] { return player.count("message jump") >= samples + 1; }, 60000);
    player.unload();
    std::vector<double> out;
    for (auto& e : player.events("message jump"))
        if (e.track_ms >= begin + 1)
            out.push_back(e.track_ms - end);  // skip a jump from before the start
    return out;
}

void reactions(PluginRest rest) {
    sim::reset_rest_counts();
    report(std::string("time limit reaction ") + label(rest), time_limit_latency(rest));
    report(std::string("loop jump reaction ") + label(rest), loop_latency(rest));
    const sim::RestCounts counts = sim::rest_counts();
    std::printf("%-40s %s (%ld high-resolution timers made, %ld refused, %ld Sleep(1) calls)\n",
                (std::string("plug-in rested on ") + label(rest)).c_str(),
                counts.timers_made > 0 && counts.sleeps_1ms == 0 ? "its timer" : "Sleep(1)",
                counts.timers_made, counts.timers_refused, counts.sleeps_1ms);
}

// Every host call of an idle watcher during one second, against its position questions.
void idle_messages(const char* what, bool loop) {
    sim::Player player;
    player.set_playlist({{"a.mp3", 600000}});
    std::map<std::string, int32_t> store;
    if (!loop) store = {{key("check_time_limit"), 1}, {key("time_limit"), 2000000000}};
    if (!start(player, store, PluginRest::as_built)) return;
    player.play(0);
    if (loop) {
        player.set_position(5000);
        HWND dialog = player.open_config();
        if (!dialog) return;
        sim::set_box(dialog, IDC_LOOP_ENABLE, true);
        sim::type(dialog, IDC_LOOP_START, L"1000");
        sim::type(dialog, IDC_LOOP_END, L"500000");
        sim::click(dialog, IDOK);
        sim::gone(dialog);
    }
    Sleep(100);
    player.clear_events();
    Sleep(1000);
    // Only the watcher runs now: every event is one of its calls.
    size_t positions = 0, others = 0;
    for (auto& e : player.events())
        (e.what.rfind("message position", 0) == 0 ? positions : others) += 1;
    player.unload();
    std::printf(
        "%-40s %.2f host messages per pass   (%zu position questions in 1 s, %zu other calls)\n",
        what, positions ? static_cast<double>(positions + others) / positions : 0.0, positions,
        others);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--quick") samples /= 10, rests /= 10;
    rest_lengths();
    message_round_trips();
    reactions(PluginRest::as_built);
    reactions(PluginRest::sleep_forced);
    idle_messages("idle time-limit pass", false);
    idle_messages("idle loop pass", true);
    return 0;
}
