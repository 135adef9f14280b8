#include <windows.h>

#include <algorithm>

#include "dialog/controls.h"
#include "dialog/dialog_actions.h"
#include "dialog/dialog_win32.h"
#include "resources/resource_ids.h"

namespace controls {

namespace {

constexpr wchar_t reset_owed_property[] = L"xmp-quarvel reset owed";

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

bool reset_now(Dialog dialog, unsigned& wait_left_ms) {
    const HWND w = window(dialog);
    const DWORD began = GetTickCount();
    const unsigned budget = wait_left_ms;
    // What is left is what there was less the time spent here so far (unsigned: right across
    // the tick's wrap).
    const auto spend = [&] {
        const DWORD spent = GetTickCount() - began;
        wait_left_ms = spent >= budget ? 0 : budget - static_cast<unsigned>(spent);
    };
    // Nothing left to wait: only a dialog of this thread runs the reset now (a plain call).
    if (wait_left_ms == 0 && GetWindowThreadProcessId(w, nullptr) != GetCurrentThreadId())
        return false;
    DWORD_PTR answer = 0;
    const bool answered =
        send_within(w, quarvel::reset_looping_message, 0, 0, wait_left_ms, &answer);
    spend();
    if (!answered) return false;
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
        const bool sent =
            wait_left_ms > 0 &&
            send_bounded(w, change.id, change.message, change.wparam, change.lparam, wait_left_ms);
        spend();
        if (!sent) break;
    }
    return true;  // nothing of this copy's is owed to that window
}

void reset_later(Dialog dialog) {
    PostMessageW(window(dialog), quarvel::reset_looping_message, 0, 0);
}

// The owed reset lives in the dialog's window, as a property: setting it and taking it away are
// each one call, so a close and the dialog's thread never lose one of them between two calls.
void mark_reset_owed(Dialog dialog) {
    SetPropW(window(dialog), reset_owed_property, reinterpret_cast<HANDLE>(1));
}

bool take_reset_owed(Dialog dialog) {
    return RemovePropW(window(dialog), reset_owed_property) != nullptr;
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

namespace {

struct Search {
    Dialog* found;
    size_t room, count;
    DWORD process;
};

// Whether the window's caption is the dialog's, read without a message to it (GetWindowText
// would send one to a window of this process, and its thread may be busy).
bool has_dialog_caption(HWND candidate) {
    constexpr wchar_t caption[] = L"" QUARVEL_DIALOG_CAPTION;
    constexpr int length = sizeof caption / sizeof caption[0] - 1;
    wchar_t text[length + 2];
    return InternalGetWindowText(candidate, text, length + 2) == length &&
           std::equal(text, text + length, caption);
}

BOOL CALLBACK consider(HWND candidate, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (owner == search.process && has_dialog_caption(candidate))
        search.found[search.count++] = candidate;
    return search.count < search.room;
}

}  // namespace

size_t find_open_dialogs(Dialog* found, size_t room) {
    // Only our own dialogs: another program, or another player, may have a window with the
    // same caption. EnumWindows walks a list of the top-level windows made as it begins, so a
    // dialog open all along is found whatever other windows do meanwhile (one closed or raised
    // would end or skip a walk that goes on from the last match).
    Search search{found, room, 0, GetCurrentProcessId()};
    if (room > 0) EnumWindows(consider, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

}  // namespace controls
