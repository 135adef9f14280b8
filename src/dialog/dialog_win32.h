#pragma once

#include <windows.h>

namespace quarvel {

// Sent or posted to the dialog by a track close to have it run its own "Reset"
// (controls::reset_now, controls::reset_later); answered with quarvel::reset_mark.
inline constexpr UINT reset_looping_message = WM_APP + 100;

// Shows the configuration dialog modally on the calling thread.
void run_config_dialog(HWND parent);

}  // namespace quarvel
