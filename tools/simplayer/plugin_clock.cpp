#include "plugin_clock.h"

#include <atomic>

#include "rest_watch.h"

namespace sim {

namespace {

std::atomic<DWORD> plugin_now{0};

DWORD WINAPI tick_count() {
    return plugin_now.load();
}

LRESULT WINAPI send_timeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT,
                            UINT timeout_ms, PDWORD_PTR result) {
    const DWORD began = plugin_now.load();
    const LRESULT answer = SendMessageW(window, message, wparam, lparam);
    if (plugin_now.load() - began > timeout_ms) {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return 1;
}

bool point_imports(HMODULE module, void* tick, void* send) {
    return replace_import(module, "KERNEL32.dll", "GetTickCount", tick) &&
           replace_import(module, "USER32.dll", "SendMessageTimeoutW", send);
}

}  // namespace

HeldPluginClock::HeldPluginClock(HMODULE module) : module_(module) {
    plugin_now = GetTickCount();
    held_ = point_imports(module, reinterpret_cast<void*>(tick_count),
                          reinterpret_cast<void*>(send_timeout));
}

HeldPluginClock::~HeldPluginClock() {
    point_imports(module_, reinterpret_cast<void*>(GetTickCount),
                  reinterpret_cast<void*>(SendMessageTimeoutW));
}

void advance_plugin_clock(DWORD ms) {
    plugin_now += ms;
}

}  // namespace sim
