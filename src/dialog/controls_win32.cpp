#include <windows.h>

#include "dialog/controls.h"
#include "resources/resource_ids.h"

namespace controls {

namespace {
HWND window(Dialog dialog) {
    return static_cast<HWND>(dialog);
}
}  // namespace

bool is_checked(Dialog dialog, int id) {
    return IsDlgButtonChecked(window(dialog), id) == BST_CHECKED;
}

void set_checked(Dialog dialog, int id, bool checked) {
    CheckDlgButton(window(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

size_t read_text(Dialog dialog, int id, wchar_t* buffer, size_t size) {
    buffer[0] = L'\0';
    GetDlgItemTextW(window(dialog), id, buffer, static_cast<int>(size));
    const int length = GetWindowTextLengthW(GetDlgItem(window(dialog), id));
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void set_text(Dialog dialog, int id, const wchar_t* text) {
    SetDlgItemTextW(window(dialog), id, text);
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
