// The configuration dialog for the explorer, under Windows' message rules: a message from another
// thread runs only where the dialog's thread takes sent messages (idle, or waiting for the player),
// else the sender's bound expires; posted ones run after sent ones, before input. Each opening is
// a window of its own; what is sent or posted to a closed window is lost.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "explorer.h"
#include "settings/shared_word.h"

namespace explore {

struct Sent;

struct Window {
    Thread* thread = nullptr;  // whose modal loop runs it
    bool open = true;
    std::map<int, bool> boxes;
    std::map<int, std::wstring> texts;
    quarvel::Shared<bool> owed{false};  // a reset owed to it
    std::deque<std::shared_ptr<Sent>> inbox;
    int posted = 0;
    long shown_at = -1;    // the step at which its last Apply, "Set now" or typing began
    long typed_at = -1;    // the step at which the user last typed a section into it
    long applied_at = -1;  // the step at which its last Apply began
};

extern std::vector<std::unique_ptr<Window>> windows;  // this schedule's, in the order they opened
Window& add_window(Thread* thread);
Window* window_of(const Thread* thread);  // the window its modal loop runs now, if any

// Does one word of a thread's script; set by the driver ("apply" and the like come back to
// input() through it, a tool's click too).
extern std::function<void(const std::string& word)> perform;
// An input to the calling thread's dialog: "open", "apply", "ok", "set" (start field), "reset",
// "cancel", "type" (the user ticks looping and types the section 2000 to 6000).
void input(const std::string& word);
// A thread of the player's: it takes what is sent to its dialog, then what is posted, then its
// next word; with its dialog still open at the end, it waits for messages.
void run_thread(const std::string& words);
// An automation tool's BM_CLICK on Apply in the window of the player's thread `on`.
void click_apply(const Thread* on);
// Runs the messages sent to the calling thread's dialog (it waits in a message to the player).
void take_sent();

}  // namespace explore
