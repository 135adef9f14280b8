// The loaded plug-in's clock, held by a test: its imports of GetTickCount and SendMessageTimeoutW
// are pointed at stand-ins. GetTickCount stands still until the test moves it on; a
// SendMessageTimeoutW waits for its answer however long the machine takes, and has timed out only
// where the plug-in's clock passed its bound meanwhile (a receiver that plays a late answer moves
// the clock on by as much). So a bound of the plug-in's is tried on the time a test gives, never
// on how busy the machine is. Only for windows whose threads answer; one plug-in at a time, redone
// after every load.
#pragma once

#include <windows.h>

namespace sim {

bool hold_plugin_clock(HMODULE module);
void advance_plugin_clock(DWORD ms);

}  // namespace sim
