// Driving a dialog of another thread with messages, as a user's clicks and keys would: no
// synthetic input, so no window needs the focus.
#pragma once

#include <windows.h>

#include <string>

namespace sim {

// Waits until `condition` holds; false once `timeout_ms` have passed. The time is a guard for
// a test that fails, never the thing a test asserts.
template <class Condition>
bool wait_until(Condition condition, DWORD timeout_ms = 10000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(1);
    }
    return true;
}

inline void click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

inline bool checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

inline std::wstring text(HWND dialog, int id) {
    wchar_t buffer[256] = {};
    GetDlgItemTextW(dialog, id, buffer, 256);
    return buffer;
}

inline void type(HWND dialog, int id, const wchar_t* value) {
    SetDlgItemTextW(dialog, id, value);
}

inline void set_box(HWND dialog, int id, bool on) {
    if (checked(dialog, id) != on) click(dialog, id);
}

// A key press as the dialog's message loop sees it: posted to the control with the focus.
inline void press_key(HWND dialog, WPARAM key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : dialog;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

inline bool gone(HWND window, DWORD timeout_ms = 10000) {
    return wait_until([&] { return !IsWindow(window); }, timeout_ms);
}

}  // namespace sim
