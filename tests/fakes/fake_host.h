// A scripted player for the native tests. Every call the plug-in makes is logged as one
// line ("position", "command key128", "write time_limit=60", ...), in order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hook.h"

namespace fake {

struct Player {
    // Answers; the hooks may change while watchers run (hook.h).
    std::atomic<int32_t> position{-1};
    std::atomic<int32_t> length{-1};   // in milliseconds (XMPlay itself answers -1)
    std::atomic<int32_t> seconds{-1};  // in whole seconds
    std::atomic<int32_t> playlist_length{1};
    std::atomic<bool> playing{false};           // the status table's answer
    std::atomic<bool> output_playing{true};     // lParam 104's (XMPlay's 0 as its output stops)
    Hook<int32_t()> position_script;            // overrides `position` when set
    Hook<void(const std::string&)> on_command;  // the player's reaction
    std::map<int32_t, std::string> tags;        // absent tags answer null
    std::atomic<bool> log_enabled{true};
    // Called with every call's log line, on the calling thread, before the call is answered
    // (logged or not): a test's way to act at an exact point.
    Hook<void(const std::string& line)> on_call;

    // The plug-in's section of the store.
    std::map<std::string, int32_t> store;
    std::optional<int32_t> stored(const std::string& key);

    std::vector<std::string> log();                              // snapshot
    std::vector<std::string> log_of(const std::string& prefix);  // lines starting with it
    void clear_log();
    void record(std::string line);
    int outstanding_texts();  // handed out and not yet released

    std::mutex mutex;  // guards store, the log and the texts
    std::vector<std::string> lines;
    std::vector<char*> texts;
};

Player& player();

// A fresh player (store, log, answers) and fresh plug-in settings; stops both watchers and
// waits until their threads have ended.
void reset();

}  // namespace fake
