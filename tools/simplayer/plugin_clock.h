// The loaded plug-in's clock, held by a test: while a HeldPluginClock lives, the plug-in's
// imports of GetTickCount and SendMessageTimeoutW point at stand-ins. GetTickCount stands still
// until the test moves it on; a SendMessageTimeoutW waits for its answer however long the
// machine takes, and has timed out only where the plug-in's clock passed its bound meanwhile (a
// receiver that plays a late answer moves the clock on by as much). So a bound of the plug-in's
// is tried on the time a test gives, never on how busy the machine is. Only for windows whose
// threads answer. The module stays loaded between tests (the dialog pins it): the real functions
// are put back when the HeldPluginClock goes.
#pragma once

#include <windows.h>

namespace sim {

class HeldPluginClock {
  public:
    explicit HeldPluginClock(HMODULE module);
    ~HeldPluginClock();
    HeldPluginClock(const HeldPluginClock&) = delete;
    HeldPluginClock& operator=(const HeldPluginClock&) = delete;
    bool held() const { return held_; }

  private:
    HMODULE module_;
    bool held_;
};

void advance_plugin_clock(DWORD ms);

}  // namespace sim
