// The configuration dialog for the explorer, on a thread of its own that keeps Windows' message
// rules: a message sent from another thread runs only where the dialog's thread takes sent
// messages (idle in its loop, or waiting in a message it sent to the player), else the sender's
// bound expires; a posted message runs when the thread is free, after sent messages and before
// input; a click by the user is input.
#pragma once

#include <map>
#include <string>

#include "explorer.h"

namespace explore {

struct DialogModel {
    std::map<int, bool> boxes;
    std::map<int, std::wstring> texts;
    bool open = false;
    Thread* thread = nullptr;
    long handler_began = -1;  // the step at which the last Apply or "Set now" began
};

extern DialogModel dialog;
extern thread_local int
    close_sends;  // messages sent to the dialog with a bound by the current close

// The dialog's thread: "open", "apply", "ok", "set" (start field), "reset", "cancel".
void run_dialog(const std::string& inputs);
// An automation tool's BM_CLICK on Apply, sent from the calling thread.
void click_apply();
// Runs the messages sent to the dialog, when called on its thread: it waits in a message.
void take_sent();
void forget_messages();

}  // namespace explore
