#include <windows.h>

#include "dialog/controls.h"
#include "dialog/dialog_actions.h"
#include "dialog/dialog_win32.h"
#include "resources/resource_ids.h"

namespace controls {

namespace {

HWND window(Dialog dialog) {
    return static_cast<HWND>(dialog);
}

// A message to a window that another thread may run: given up when that thread does not
// answer within `ms` (or is hung). On the window's own thread it is a plain call.
bool send_within(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD ms,
                 DWORD_PTR* result) {
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL | SMTO_ABORTIFHUNG, ms,
                               result) != 0;
}

bool send_bounded(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam, DWORD ms) {
    DWORD_PTR result = 0;
    return send_within(GetDlgItem(dialog, id), message, wparam, lparam, ms, &result);
}

}  // namespace

void set_checked(Dialog dialog, int id, bool checked) {
    CheckDlgButton(window(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void set_text(Dialog dialog, int id, const wchar_t* text) {
    SetDlgItemTextW(window(dialog), id, text);
}

bool reset_now(Dialog dialog) {
    const DWORD began = GetTickCount();
    DWORD_PTR answer = 0;
    if (!send_within(window(dialog), quarvel::reset_looping_message, 0, 0, cross_thread_answer_ms,
                     &answer))
        return false;
    if (answer == static_cast<DWORD_PTR>(quarvel::reset_mark)) return true;
    // A window of this process with the dialog's caption that is not this copy's dialog (an
    // older copy's, say): the reset's three changes, within what is left of the one wait.
    const struct {
        int id;
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    } changes[] = {{IDC_LOOP_ENABLE, BM_SETCHECK, BST_UNCHECKED, 0},
                   {IDC_LOOP_START, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0")},
                   {IDC_LOOP_END, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0")}};
    for (const auto& change : changes) {
        const DWORD spent = GetTickCount() - began;  // unsigned: right across the tick's wrap
        if (spent >= cross_thread_answer_ms ||
            !send_bounded(window(dialog), change.id, change.message, change.wparam, change.lparam,
                          cross_thread_answer_ms - spent))
            break;
    }
    return true;  // nothing of this copy's is owed to that window
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
