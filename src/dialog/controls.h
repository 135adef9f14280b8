// The window calls that the dialog's logic makes: the one seam between that logic and the
// Windows dialog. Windows implements it over the dialog's controls (controls_win32.cpp);
// the native tests link a fake dialog.
#pragma once

#include <cstddef>

namespace controls {

using Dialog = void*;  // the dialog window

bool is_checked(Dialog dialog, int id);
void set_checked(Dialog dialog, int id, bool checked);

// Copies the control's text into `buffer` (NUL-terminated, cut to `size` characters) and
// returns the length of the whole text.
size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size);
void set_text(Dialog dialog, int id, const wchar_t* text);

// The configuration dialog when this process has it open, else null.
Dialog find_open_dialog();

}  // namespace controls
