// simplayer: plays a simulated playlist with the plug-in loaded and prints what the player
// saw and did. It sets the time limit through the plug-in's real dialog, lets the playlist
// run, arms a loop section through the dialog, closes the track and then the player with the
// dialog still open. The player behaves as XMPlay does.
//
//   simplayer [--dll PATH] [--playlist name:ms[:subsongs],...] [--time-limit MS]
//             [--subsongs on|off] [--loop START-END] [--track-events new|playback|ui]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "playlist.h"
#include "resource_ids.h"
#include "sim_player.h"

namespace {

struct Options {
    std::wstring dll;
    std::string playlist = "intro.mp3:5000,suite.sid:5000:3,outro.ogg:5000";
    int32_t time_limit = 1000;
    bool subsongs = true;
    int32_t loop_start = 1500;
    int32_t loop_end = 2500;
    sim::TrackEvents track_events = sim::TrackEvents::new_thread;
};

constexpr char usage[] =
    "usage: simplayer [--dll PATH] [--playlist name:ms[:subsongs],...] [--time-limit MS]\n"
    "                 [--subsongs on|off] [--loop START-END] [--track-events new|playback|ui]\n"
    "  --track-events  the thread that delivers track opens and closes: a new one for each\n"
    "                  change (the default, as XMPlay), one playback thread, or the UI thread,\n"
    "                  where the dialog runs\n";

int fail_usage(const std::string& message) {
    std::fprintf(stderr, "simplayer: %s\n", message.c_str());
    return 2;
}

// Wine hands a Unix path through unchanged; turn it into one Windows can open.
std::wstring windows_path(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        using ToDos = WCHAR*(CDECL*)(const char*);
        auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
        if (to_dos) {
            if (WCHAR* dos = to_dos(path.c_str())) {
                std::wstring out = dos;
                HeapFree(GetProcessHeap(), 0, dos);
                return out;
            }
        }
    }
    return sim::widen(path);
}

bool parse_options(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            error = arg.rfind("--", 0) == 0 ? arg + " needs a value"
                                            : "unknown argument \"" + arg + "\"";
            return false;
        }
        const std::string value = argv[++i];
        int64_t number = 0;
        if (arg == "--dll") {
            o.dll = windows_path(value);
        } else if (arg == "--playlist") {
            o.playlist = value;
        } else if (arg == "--time-limit") {
            if (!sim::parse_number(value, 1, 2147483647, number)) {
                error = "--time-limit must be a whole number of milliseconds from 1 to 2147483647";
                return false;
            }
            o.time_limit = static_cast<int32_t>(number);
        } else if (arg == "--subsongs") {
            if (value != "on" && value != "off") {
                error = "--subsongs must be on or off";
                return false;
            }
            o.subsongs = value == "on";
        } else if (arg == "--track-events") {
            if (value != "new" && value != "playback" && value != "ui") {
                error = "--track-events must be new, playback or ui";
                return false;
            }
            o.track_events = value == "ui"         ? sim::TrackEvents::ui_thread
                             : value == "playback" ? sim::TrackEvents::playback_thread
                                                   : sim::TrackEvents::new_thread;
        } else if (arg == "--loop") {
            const size_t dash = value.find('-');
            int64_t start = 0, end = 0;
            if (dash == std::string::npos ||
                !sim::parse_number(value.substr(0, dash), 1, 2147483647, start) ||
                !sim::parse_number(value.substr(dash + 1), 1, 2147483647, end) || start >= end) {
                error = "--loop must be START-END in milliseconds with 0 < START < END";
                return false;
            }
            o.loop_start = static_cast<int32_t>(start);
            o.loop_end = static_cast<int32_t>(end);
        } else {
            error = "unknown option \"" + arg + "\"";
            return false;
        }
    }
    return true;
}

// --- The timeline ------------------------------------------------------------------------

class Timeline {
  public:
    Timeline(sim::Player& player)
        : player_(player),
          user_(GetCurrentThreadId()),
          player_thread_(player.ui_thread_id()),
          playback_thread_(player.playback_thread_id()) {
        player.set_on_event([this](const sim::Event& e) { print(e); });
    }
    ~Timeline() { player_.set_on_event(nullptr); }

    void step(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::printf("\n== %s\n", what.c_str());
        std::fflush(stdout);
    }
    void note(const std::string& what) { line(player_.now_ms(), "user", what); }

  private:
    static bool shown(const std::string& what) {
        for (const char* hidden :
             {"store read", "message position", "message playing", "get_interface"})
            if (what.rfind(hidden, 0) == 0) return false;
        return true;
    }

    void print(const sim::Event& e) {
        if (!shown(e.what)) return;
        std::string what = e.what;
        if (what.rfind("command ", 0) == 0 || what.rfind("message jump", 0) == 0) {
            char at[64];
            std::snprintf(at, sizeof at, "  (at %.0f ms into the track)", e.track_ms);
            what += at;
        }
        const char* who = e.message                      ? "plug-in"
                          : e.thread == player_thread_   ? "player"
                          : e.thread == playback_thread_ ? "playback"
                          : e.thread == user_            ? "user"
                          : e.player_worker              ? "worker"
                                                         : "watcher";
        line(e.at_ms, who, what);
    }

    void line(double at_ms, const char* who, const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::printf("%8.3f s  %-8s  %s\n", at_ms / 1000.0, who, what.c_str());
        std::fflush(stdout);
    }

    sim::Player& player_;
    DWORD user_;
    DWORD player_thread_;
    DWORD playback_thread_;
    std::mutex mutex_;
};

// The commands the plug-in sent while the time limit moved the player on, counted per move:
// from one track open, subsong step or restart of the entry to the next.
std::string commands_per_crossing(sim::Player& player) {
    std::string counts;
    int commands = 0, moves = 0;
    for (const auto& e : player.events()) {
        if (e.what.rfind("command ", 0) == 0) ++commands;
        const bool moved = e.what.rfind("track opened", 0) == 0 ||
                           e.what.rfind("-> next subsong:", 0) == 0 ||
                           e.what.rfind("-> play: the entry again", 0) == 0;
        if (!moved || commands == 0) continue;
        counts += (moves++ ? ", " : "") + std::to_string(commands);
        commands = 0;
    }
    return "commands per crossing of the time limit: " + (moves ? counts : "none") + " (" +
           std::to_string(moves) + " moves)";
}

std::wstring number(int32_t n) {
    return std::to_wstring(n);
}

std::string describe(HWND dialog) {
    return std::string("dialog shows: time limit ") +
           (sim::checked(dialog, IDC_TIME_ENABLE) ? "on" : "off") + " " +
           sim::narrow(sim::text(dialog, IDC_TIME_LIMIT)) + " ms, subsongs " +
           (sim::checked(dialog, IDC_SUBSONGS) ? "on" : "off") + ", looping " +
           (sim::checked(dialog, IDC_LOOP_ENABLE) ? "on" : "off") + " " +
           sim::narrow(sim::text(dialog, IDC_LOOP_START)) + "-" +
           sim::narrow(sim::text(dialog, IDC_LOOP_END)) + " ms";
}

int run(const Options& o, const std::vector<sim::PlaylistEntry>& entries) {
    sim::Player player;
    player.quiet_positions = true;
    player.set_track_events(o.track_events);
    std::vector<sim::Track> tracks;
    for (const auto& e : entries) tracks.push_back({e.file, e.length_ms, e.subsongs});
    player.set_playlist(tracks);

    Timeline timeline(player);
    std::printf(
        "Timeline of what the simulated player saw and did. Columns: seconds since start; the\n"
        "thread: player (the player's UI thread, where the plug-in's entries and dialog run),\n"
        "playback (the player's playback thread), worker (a thread the player starts for a\n"
        "track change), watcher (a thread of the plug-in), user (this demo, acting as the user),\n"
        "plug-in (a message to the player's main window); the event. Track opens and closes come\n"
        "on %s.\n",
        o.track_events == sim::TrackEvents::ui_thread         ? "the UI thread"
        : o.track_events == sim::TrackEvents::playback_thread ? "the playback thread"
                                                              : "a new thread each time");
    timeline.step("Loading the plug-in");
    std::string error;
    if (!player.load(o.dll, &error)) {
        std::fprintf(stderr, "simplayer: %s\n", error.c_str());
        return 2;
    }
    const sim::PluginRecord* record = player.bind(1);
    if (!record) {
        std::fprintf(stderr, "simplayer: the plug-in refused interface version 1\n");
        return 1;
    }
    timeline.note(std::string("plug-in \"") + record->name + "\", " +
                  record->get_description(reinterpret_cast<sim::Instance>(1)));
    player.start_instance();

    timeline.step("Time limit: " + std::to_string(o.time_limit) + " ms per song, subsongs " +
                  (o.subsongs ? "limited one by one" : "not limited") + ", set in the dialog");
    HWND dialog = player.open_config();
    if (!dialog) {
        std::fprintf(stderr, "simplayer: the configuration dialog did not open\n");
        return 1;
    }
    timeline.note(
        "dialog open; ticks \"enable\" under \"Time limit \", types the limit, presses OK");
    sim::set_box(dialog, IDC_TIME_ENABLE, true);
    sim::type(dialog, IDC_TIME_LIMIT, number(o.time_limit).c_str());
    sim::set_box(dialog, IDC_SUBSONGS, o.subsongs);
    sim::click(dialog, IDOK);
    sim::gone(dialog);

    timeline.step("Playing the playlist until it comes round to its first entry again");
    player.set_real_time();
    player.play(0);
    double budget = 2000;
    for (const auto& e : entries)
        budget += (e.subsongs + 1.0) * std::min<double>(e.length_ms, o.time_limit) + 200;
    const std::string first = "track opened: " + entries[0].file;
    if (!sim::wait_until([&] { return player.count(first) >= 2; }, static_cast<DWORD>(budget)))
        timeline.note("the playlist did not come round within " +
                      std::to_string(static_cast<int>(budget)) + " ms");
    timeline.note(commands_per_crossing(player));

    // XMPlay's position runs ahead of what was played while its output stops, past the limit
    // here; it says meanwhile that it does not play, and the plug-in sends nothing.
    const int32_t stop_at = o.time_limit > 400 ? o.time_limit - 200 : o.time_limit / 2;
    timeline.step("The user presses Stop " + std::to_string(o.time_limit - stop_at) +
                  " ms before the limit");
    player.play(0);
    sim::wait_until([&] { return player.position_now() >= stop_at; });
    const size_t sent = player.count("command ");
    player.press_stop();
    sim::wait_until([&] { return player.count("-> stopped") > 0; });
    player.wait_for_positions(200);  // the watcher's passes go on
    timeline.note("commands since the Stop: " + std::to_string(player.count("command ") - sent) +
                  "; the player stays stopped at " + std::to_string(player.position_now()) + " ms");
    player.play(0);

    timeline.step("Looping " + std::to_string(o.loop_start) + "-" + std::to_string(o.loop_end) +
                  " ms of the song now playing, armed in the dialog");
    dialog = player.open_config();
    if (!dialog) {
        std::fprintf(stderr, "simplayer: the configuration dialog did not open\n");
        return 1;
    }
    timeline.note("ticks \"enable (Playing song)\", types the section, presses Apply");
    sim::set_box(dialog, IDC_LOOP_ENABLE, true);
    sim::type(dialog, IDC_LOOP_START, number(o.loop_start).c_str());
    sim::type(dialog, IDC_LOOP_END, number(o.loop_end).c_str());
    sim::click(dialog, IDC_APPLY);
    timeline.note(describe(dialog));
    if (sim::checked(dialog, IDC_LOOP_ENABLE)) {
        const size_t jumps = player.count("message jump");
        const DWORD wait =
            static_cast<DWORD>(std::min<int64_t>(2 * int64_t{o.loop_end} + 2000, 60000));
        sim::wait_until([&] { return player.count("message jump") >= jumps + 2; }, wait);
        timeline.note("looping armed: " + std::to_string(player.count("message jump") - jumps) +
                      " jumps back to " + std::to_string(o.loop_start) + " ms so far");
    } else {
        timeline.note("the plug-in refused to loop that section of this track");
    }

    timeline.step("Closing the track with the dialog still open");
    player.stop();
    timeline.note(describe(dialog));

    timeline.step("Closing the player with the dialog still open");
    player.quit_with_dialog_open(dialog);
    std::string settings;
    for (const auto& [key, value] : player.store())
        settings += " " + key.substr(key.find('/') + 1) + "=" + std::to_string(value);
    timeline.note("settings left in the player's store:" + settings);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.dll = sim::program_directory() + L"xmp-quarvel.dll";
    std::string error;
    if (!parse_options(argc, argv, options, error)) return fail_usage(error);
    std::vector<sim::PlaylistEntry> entries;
    if (!sim::parse_playlist(options.playlist, entries, error)) return fail_usage(error);
    if (GetFileAttributesW(options.dll.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail_usage("no plug-in DLL at " + sim::narrow(options.dll));
    return run(options, entries);
}
