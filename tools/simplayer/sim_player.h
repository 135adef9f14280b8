// A stand-in for the player, for trying and testing a DSP plug-in without it.
//
// It owns a hidden main window on a UI thread of its own that answers the Winamp-style
// messages (position, length, jump, playlist length) and runs the plug-in's entries and
// dialog, and a playback thread. It serves the three function tables with an in-memory
// settings store, plays a playlist of simulated tracks in real time (or at a position the
// caller sets), carries out the shortcut commands, and logs every call, command and message
// with the thread that made it.
//
// By default it behaves as XMPlay 3.8 was measured to behave: it answers the length in
// milliseconds with -1 and tells whole seconds instead; "key128" returns at once and the switch
// follows some 300 ms later on a thread of its own (the position standing, the player
// reporting itself stopped meanwhile); "key81" acts before it returns and takes a while, and a
// stop then play restarts the entry without track events; each track change comes on a new
// thread; set_config(..., 0) follows new_instance, get_config comes at exit, and the dialog's
// parent is an Options window. The contract's way stays available (set_behaviour).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport.h"

namespace sim {

// The plug-in's side of the binding, as the player sees it.
using Instance = void*;
struct PluginRecord {
    DWORD flags;
    const char* name;
    void(WINAPI* about)(HWND parent);
    Instance(WINAPI* new_instance)();
    void(WINAPI* free_instance)(Instance);
    const char*(WINAPI* get_description)(Instance);
    void(WINAPI* config)(Instance, HWND parent);
    DWORD(WINAPI* get_config)(Instance, void* buffer);
    BOOL(WINAPI* set_config)(Instance, void* data, DWORD size);
    void(WINAPI* new_track)(Instance, const char* file);
    void* audio_entries[4];
};
using GetInterfaceFn = void*(WINAPI*)(DWORD number);
using BindFn = const PluginRecord*(WINAPI*)(DWORD face, GetInterfaceFn get_interface);

// The thread that delivers track opens and closes to the plug-in: a new one for each change (as
// XMPlay does), the UI thread, or one playback thread.
enum class TrackEvents { new_thread, ui_thread, playback_thread };

struct Event {
    double at_ms;      // since the player was created
    DWORD thread;      // who made the call
    std::string what;  // "message position -> 1234", "command key128", ...
    double track_ms;   // real-time position of the current track when it happened
    // A main-window message: handled on the player's thread whoever sent it, so `thread`
    // does not tell the sender.
    bool message = false;
    bool player_worker = false;  // made on a thread the player started for a track change
};

class Player {
  public:
    Player();
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // --- The plug-in -----------------------------------------------------------------
    // Loads the DLL; false (with `error`) when it cannot be loaded or lacks the export.
    bool load(const std::wstring& dll_path, std::string* error = nullptr);
    // XMPDSP_GetInterface2 with the given face; the record it returned.
    const PluginRecord* bind(DWORD face = 1);
    // new_instance, on the player's thread.
    void start_instance();
    // free_instance and FreeLibrary, then waits (up to `wait_ms`) until the module is gone.
    // Returns whether it went.
    bool unload(DWORD wait_ms = 10000);
    HMODULE module() const { return module_; }
    const PluginRecord* record() const { return record_; }

    // --- Playback, carried out on the thread that delivers track events --------------
    void set_track_events(TrackEvents thread);  // before playing; a new thread by default
    TrackEvents track_events() const { return track_events_.load(); }
    void set_playlist(std::vector<Track> tracks);
    void play(size_t index);  // closes the current track (if any), opens this one
    void stop();              // closes the current track
    // The same for a hold point's work on the UI thread: where track events come on the
    // playback thread, it waits for that thread without answering the messages sent to the
    // UI thread meanwhile, as a thread that is busy elsewhere.
    void play_while_busy(size_t index);
    // Position from now on: real time since the track (re)started, or a fixed value.
    void set_real_time();
    void set_position(int32_t ms);
    // The player's reaction to a command; return true to replace the built-in one. Set and
    // called under the player's lock (a call holds a copy), so it may change while watchers run.
    using CommandHook = std::function<bool(const std::string& command)>;
    void set_on_command(CommandHook hook);
    // XMPlay's way (the default) or the contract's (transport.h); set before playing.
    void set_behaviour(Behaviour behaviour);
    Behaviour behaviour() const { return transport_->behaviour(); }
    // How long XMPlay takes: to switch after "key128" (a hold point, "switch to the next entry",
    // comes just before the switch), to stop, and to step to the next subsong.
    DWORD next_entry_delay_ms = 300;
    DWORD stop_takes_ms = 400;
    DWORD subsong_step_takes_ms = 50;
    // Whenever XMPlay's output stops, its position runs this far ahead of what was played, with
    // lParam 104 answering 0: for as long as the switch takes, for stop_ahead_ms at a Stop (a
    // hold point, "output stopped", comes before the entry stays at 0) and as the player closes
    // (the same point, before the track closes), for seek_ahead_ms at a seek ("output plays
    // again").
    int32_t output_ahead_ms = 600;
    DWORD stop_ahead_ms = 250;
    DWORD seek_ahead_ms = 30;
    // The user's hands on the player: Stop (the entry stays, at 0) and a seek to `ms`. They
    // return once the output has begun to stop; XMPlay's way goes on on a thread of its own.
    void press_stop();
    void seek(int32_t ms);

    // Opens the configuration dialog modally on the player's thread (as the player does, from
    // an Options window that the main window owns) and returns at once; the dialog's window,
    // once it shows, or null after `wait_ms`.
    HWND open_config(DWORD wait_ms = 10000);
    // Closes the player while the dialog is open, as XMPlay does: from a message the dialog's
    // modal loop dispatches, new_track(null) and get_config; the dialog ends (Cancel); then
    // get_description, free_instance and the unload. Returns whether the module went.
    bool quit_with_dialog_open(HWND dialog, DWORD wait_ms = 10000);
    void about();  // the About box, modally on the player's thread; returns at once

    // Keeps the UI thread busy (as a player loading a large file) until release_ui_thread();
    // returns once it has begun to be busy. ui_busy() tells whether it still is.
    void hold_ui_thread();
    void release_ui_thread();
    bool ui_busy() const { return ui_busy_.load(); }
    // From now on the UI thread answers every message that another thread sends to one of its
    // windows other than the main window (the plug-in's dialog, its controls) `ms` late, as a
    // slow or busy machine would; 0 ends that. delayed_messages() counts the messages it delayed.
    void delay_sent_messages(DWORD ms);
    long delayed_messages() const;
    // Returns once the UI thread has handled every message posted to its windows (the
    // plug-in's dialog among them) before this call.
    void sync_ui_thread();
    // How long the plug-in's last track-close call held the thread that delivered it.
    double last_close_ms() const { return last_close_ms_.load(); }

    // --- Hold points: an interleaving made to happen, not waited for -------------------
    // Runs `work` once, on the thread that answers the first service call whose log line
    // begins with `at` ("message length", "message position", "tag -5", "command key128",
    // "status playing", "store write QUARVEL/check_looping = 1"), before it answers.
    void hold_once(std::string at, std::function<void()> work);
    // The position questions answered so far, logged or not: one per idle watcher pass.
    long position_questions() const { return position_questions_.load(); }
    // Returns once `n` more position questions than now have been answered (false after
    // `guard_ms`, a guard, never the thing tested).
    bool wait_for_positions(long n, DWORD guard_ms = 10000);
    // The plug-in's threads that run now (thread_watch.h); only where threads_watched(), that
    // is, where the plug-in starts its threads with CreateThread.
    long plugin_threads_running() const;
    bool threads_watched() const { return threads_watched_; }

    // --- State ------------------------------------------------------------------------
    HWND window() const { return window_; }
    DWORD ui_thread_id() const { return ui_thread_id_; }
    DWORD playback_thread_id() const;
    size_t current() const;
    bool playing() const;
    int subsong() const;
    int32_t position_now() const;

    std::map<std::string, int32_t> store();  // "SECTION/key" -> value
    void set_store(std::map<std::string, int32_t> values);

    // --- The log ------------------------------------------------------------------------
    std::vector<Event> events();
    std::vector<Event> events(const std::string& prefix);  // those starting with it
    size_t count(const std::string& prefix);
    void clear_events();
    void log(const std::string& what, bool message = false);
    bool quiet_positions = false;  // leave position messages out of the log
    // Called for every event as it is logged (the demo prints them); set as set_on_command.
    using EventHook = std::function<void(const Event&)>;
    void set_on_event(EventHook hook);

    double now_ms() const;

    // The host tables call into the one live player.
    static Player* instance;

    // Services, public for the table entries.
    BOOL settings_get(const char* section, const char* key, int* value);
    BOOL settings_set(const char* section, const char* key, const int* value);
    BOOL settings_remove(const char* section, const char* key, const void* data, DWORD size);
    char* tag(int number);
    void release(void* text);
    BOOL shortcut(const char* command);
    BOOL is_playing_query();
    void* get_interface(DWORD number);

  private:
    friend class Transport;  // the transport's parts tell the plug-in of track changes

    // --- The window and its answers (player_window.cpp) -----------------------------------
    static LRESULT CALLBACK window_procedure(HWND, UINT, WPARAM, LPARAM);
    LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
    void ui_thread_main();
    void run_on_player_thread(std::function<void()> work);   // synchronous
    void post_to_player_thread(std::function<void()> work);  // asynchronous

    // --- The threads that deliver track events (track_threads.cpp) -------------------------
    // Synchronous, on the thread that delivers track events.
    void run_on_track_thread(std::function<void()> work, bool answering = true);
    // Marks the calling thread as one the player started for a track change (for the log).
    static void mark_worker_thread();
    static bool on_worker_thread();
    class PlaybackThread;

    // --- The tables and the module's lifetime (plugin_binding.cpp) -------------------------
    void tell_track_opened(const std::string& file);  // new_track(file), while the instance lives
    void tell_track_closed();                         // new_track(null), likewise
    void describe_and_free_instance();  // as XMPlay closes: get_description, free_instance
    bool free_module(DWORD wait_ms);

    // --- Hold points (event_log.cpp) -------------------------------------------------------
    void hold_point(const std::string& what);

    std::unique_ptr<Transport> transport_;

    mutable std::mutex log_mutex_;  // guards the log and the two hooks
    std::shared_ptr<const CommandHook> on_command_;
    std::shared_ptr<const EventHook> on_event_;
    std::vector<Event> events_;
    std::mutex hold_mutex_;
    std::string hold_at_;
    std::function<void()> hold_work_;
    std::atomic<long> position_questions_{0};

    std::mutex store_mutex_;  // guards the store and the texts handed out
    std::map<std::string, int32_t> store_;
    std::vector<char*> texts_;

    LARGE_INTEGER frequency_{};
    LARGE_INTEGER created_{};
    std::thread ui_thread_;
    std::atomic<HWND> window_{nullptr};
    DWORD ui_thread_id_ = 0;
    HANDLE ready_ = nullptr;
    std::atomic<bool> quitting_{false};
    std::atomic<bool> ui_busy_{false};
    HANDLE ui_release_ = nullptr;
    HHOOK delay_hook_ = nullptr;  // delay_sent_messages

    std::atomic<TrackEvents> track_events_{TrackEvents::new_thread};
    std::unique_ptr<PlaybackThread> playback_;
    std::atomic<double> last_close_ms_{0};

    HMODULE module_ = nullptr;
    bool threads_watched_ = false;
    const PluginRecord* record_ = nullptr;
    Instance instance_ = nullptr;
    std::atomic<bool> instance_live_{false};  // between new_instance and free_instance
};

// The player's own texts are 8-bit; dialogs and paths are wide.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// The directory of the running program, with a trailing backslash.
std::wstring program_directory();

}  // namespace sim
