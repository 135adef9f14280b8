// The window calls that the dialog's logic makes: the one seam between that logic and the
// Windows dialog. Windows implements it over the dialog's controls (controls_win32.cpp);
// the native tests link a fake dialog.
#pragma once

#include <cstddef>

namespace controls {

using Dialog = void*;  // the dialog window

// On the dialog's own thread a change is an ordinary window call. From another thread (a
// track close delivered elsewhere) it waits at most this long for the dialog's thread to
// answer, so that a busy dialog cannot hold up the player's thread; the text must then stay
// valid after the call (a literal).
inline constexpr unsigned cross_thread_answer_ms = 100;

// Both report whether the dialog answered.
bool set_checked(Dialog dialog, int id, bool checked);
bool set_text(Dialog dialog, int id, const wchar_t* text);

// Has the dialog run its own "Reset" as soon as its thread is free, before it handles any
// input that comes later (a posted message: the thread takes those before keyboard and mouse
// input). For changes that the dialog did not answer in time.
void reset_later(Dialog dialog);

bool is_checked(Dialog dialog, int id);
// Copies the control's text into `buffer` (NUL-terminated, cut to `size` characters) and
// returns the length of the whole text.
size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size);

// The configuration dialog when this process has it open, else null.
Dialog find_open_dialog();

}  // namespace controls
