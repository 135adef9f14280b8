#include <windows.h>

#include "dialog/controls.h"
#include "dialog/dialog_win32.h"
#include "resources/resource_ids.h"

namespace controls {

namespace {

HWND window(Dialog dialog) {
    return static_cast<HWND>(dialog);
}

bool on_dialog_thread(HWND dialog) {
    return GetWindowThreadProcessId(dialog, nullptr) == GetCurrentThreadId();
}

// A message to a control of a dialog that another thread runs: given up when that thread does
// not answer in time (or is hung).
bool send_bounded(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(GetDlgItem(dialog, id), message, wparam, lparam,
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, cross_thread_answer_ms,
                               &result) != 0;
}

}  // namespace

bool set_checked(Dialog dialog, int id, bool checked) {
    const WPARAM state = checked ? BST_CHECKED : BST_UNCHECKED;
    if (!on_dialog_thread(window(dialog)))
        return send_bounded(window(dialog), id, BM_SETCHECK, state, 0);
    CheckDlgButton(window(dialog), id, static_cast<UINT>(state));
    return true;
}

bool set_text(Dialog dialog, int id, const wchar_t* text) {
    if (!on_dialog_thread(window(dialog)))
        return send_bounded(window(dialog), id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SetDlgItemTextW(window(dialog), id, text);
    return true;
}

void reset_later(Dialog dialog) {
    PostMessageW(window(dialog), quarvel::reset_looping_message, 0, 0);
}

bool is_checked(Dialog dialog, int id) {
    return IsDlgButtonChecked(window(dialog), id) == BST_CHECKED;
}

size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size) {
    buffer[0] = L'\0';
    GetDlgItemTextW(window(dialog), id, buffer, static_cast<int>(size));
    const int length = GetWindowTextLengthW(GetDlgItem(window(dialog), id));
    return length > 0 ? static_cast<size_t>(length) : 0;
}

Dialog find_open_dialog() {
    // Only our own dialog: another program, or another player, may have a window with the
    // same caption.
    const DWORD self = GetCurrentProcessId();
    HWND candidate = nullptr;
    while ((candidate = FindWindowExW(nullptr, candidate, nullptr, L"" QUARVEL_DIALOG_CAPTION))) {
        DWORD owner = 0;
        GetWindowThreadProcessId(candidate, &owner);
        if (owner == self) return candidate;
    }
    return nullptr;
}

}  // namespace controls
