#pragma once

#include <windows.h>

namespace quarvel {

// Shows the configuration dialog modally on the calling thread.
void run_config_dialog(HWND parent);

}  // namespace quarvel
