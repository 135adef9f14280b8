#pragma once

#include <windows.h>

namespace quarvel {

// Posted to the dialog to have it run its own "Reset" (controls::reset_later).
inline constexpr UINT reset_looping_message = WM_APP + 100;

// Shows the configuration dialog modally on the calling thread.
void run_config_dialog(HWND parent);

}  // namespace quarvel
