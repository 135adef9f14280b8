// How quickly the plug-in reacts under Wine, measured in the simulated player playing in
// real time: from the moment the position first passes the time limit (or reaches the loop
// section's end) until the command (or jump) reaches the player. Also how many host calls an
// idle watcher pass makes. Prints figures; asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "resource_ids.h"
#include "sim_player.h"

namespace {

constexpr int samples = 220;

std::string key(const char* name) {
    return std::string("QUARVEL/") + name;
}

bool start(sim::Player& player, std::map<std::string, int32_t> store) {
    player.set_store(std::move(store));
    std::string error;
    if (!player.load(sim::program_directory() + L"xmp-quarvel.dll", &error) || !player.bind(1)) {
        std::fprintf(stderr, "latency_bench: %s\n", error.c_str());
        return false;
    }
    player.start_instance();
    return true;
}

void report(const char* what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-28s no samples\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, (ms.size() * 99 + 99) / 100 - 1)];
    std::printf("%-28s median %.2f ms   p99 %.2f ms   max %.2f ms   (n=%zu)\n", what, median, p99,
                ms.back(), ms.size());
}

// The position first exceeds limit L once L + 1 ms have passed since the track began.
std::vector<double> time_limit_latency() {
    constexpr int32_t limit = 20;
    sim::Player player;
    player.quiet_positions = true;
    player.set_playlist({{"a.mp3", 600000}, {"b.mp3", 600000}});
    if (!start(player, {{key("check_time_limit"), 1}, {key("time_limit"), limit}})) return {};
    player.play(0);
    sim::wait_until([&] { return player.count("command key128") >= samples; }, 60000);
    player.unload();
    std::vector<double> out;
    for (auto& e : player.events("command key128")) out.push_back(e.track_ms - (limit + 1));
    return out;
}

// The position reaches the section's end E once E ms have passed since the last jump.
std::vector<double> loop_latency() {
    constexpr int32_t begin = 200, end = 230;
    sim::Player player;
    player.quiet_positions = true;
    player.set_playlist({{"a.mp3", 600000}});
    if (!start(player, {})) return {};
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

// Every host call of an idle watcher during one second, against its position questions.
void idle_messages(const char* what, bool loop) {
    sim::Player player;
    player.set_playlist({{"a.mp3", 600000}});
    std::map<std::string, int32_t> store;
    if (!loop) store = {{key("check_time_limit"), 1}, {key("time_limit"), 2000000000}};
    if (!start(player, store)) return;
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
        "%-28s %.2f host messages per pass   (%zu position questions in 1 s, %zu other calls)\n",
        what, positions ? static_cast<double>(positions + others) / positions : 0.0, positions,
        others);
}

}  // namespace

int main() {
    report("time limit reaction", time_limit_latency());
    report("loop jump reaction", loop_latency());
    idle_messages("idle time-limit pass", false);
    idle_messages("idle loop pass", true);
    return 0;
}
