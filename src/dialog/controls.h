// The window calls that the dialog's logic makes: the one seam between that logic and the
// Windows dialog. Windows implements it over the dialog's controls (controls_win32.cpp);
// the native tests link a fake dialog.
#pragma once

#include <cstddef>

namespace controls {

using Dialog = void*;  // the dialog window

// How long, in all, a track close delivered on another thread than the dialogs' waits for the
// dialogs' threads, so that a busy dialog cannot hold up the player's thread.
inline constexpr unsigned cross_thread_answer_ms = 100;

// The most configuration dialogs a close looks for (a player may offer the dialog from more
// than one place).
inline constexpr size_t most_open_dialogs = 8;

// Changes made by the dialog's own handlers, on its thread. Another thread changes the dialog
// only through reset_now and reset_later.
void set_checked(Dialog dialog, int id, bool checked);
void set_text(Dialog dialog, int id, const wchar_t* text);

// Has the dialog's thread run its looping reset (on_reset_message) now: directly on that
// thread, else waiting at most `wait_left_ms` for it, and takes what the wait took off
// `wait_left_ms`. False when the dialog did not answer in time (at once when nothing is left).
// A window with the dialog's caption that does not answer as this plug-in's dialog gets the
// reset's three changes made directly, within what is left of the same wait.
bool reset_now(Dialog dialog, unsigned& wait_left_ms);

// Has the dialog's thread run on_reset_message as soon as it is free: after the messages sent
// to it, before any input that comes later (a posted message).
void reset_later(Dialog dialog);

// A reset owed to one dialog: marked by a close that the dialog did not answer in time, taken
// (and so cleared) by whichever of that dialog's handlers comes first.
void mark_reset_owed(Dialog dialog);
bool take_reset_owed(Dialog dialog);

bool is_checked(Dialog dialog, int id);
// Copies the control's text into `buffer` (NUL-terminated, cut to `size` characters) and
// returns the length of the whole text.
size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size);

// The configuration dialogs that this process has open, into `found` (at most `room`);
// returns how many.
size_t find_open_dialogs(Dialog* found, size_t room);

}  // namespace controls
