// A dialog without a window for the native tests: boxes and field texts by control number.
// Changes the plug-in makes are logged in the fake player's log ("check 1000=0",
// "text 1100=250").
#pragma once

#include <map>
#include <string>

namespace fake {

struct Dialog {
    std::map<int, bool> boxes;
    std::map<int, std::wstring> texts;
    // Whether the dialog's thread answers a track close's reset in time (controls::reset_now);
    // an unanswered one is logged with "(no answer)", as when that thread is busy.
    bool answers = true;
    // Resets posted to the dialog's thread (controls::reset_later), not yet run.
    int resets_posted = 0;
    bool reset_owed = false;

    bool checked(int id) const;
    std::string text(int id) const;  // as plain characters
};

// The dialog that find_open_dialogs reports, or null.
extern Dialog* open_dialog;

std::string narrow(const std::wstring& text);

}  // namespace fake
