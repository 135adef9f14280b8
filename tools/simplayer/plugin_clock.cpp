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

}  // namespace

bool hold_plugin_clock(HMODULE module) {
    plugin_now = GetTickCount();
    return replace_import(module, "KERNEL32.dll", "GetTickCount",
                          reinterpret_cast<void*>(tick_count)) &&
           replace_import(module, "USER32.dll", "SendMessageTimeoutW",
                          reinterpret_cast<void*>(send_timeout));
}

void advance_plugin_clock(DWORD ms) {
    plugin_now += ms;
}

}  // namespace sim
