// Another program's window that happens to carry the configuration dialog's caption and
// controls with the same numbers. Shows it, signals the named event "quarvel-caption-ready",
// and stays until it is ended.
#include <windows.h>

#include "../../src/resources/resource_ids.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HWND window = CreateWindowExW(0, L"#32770", L"" QUARVEL_DIALOG_CAPTION,
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 50, 50, 300,
                                  150, nullptr, nullptr, instance, nullptr);
    CreateWindowExW(0, L"BUTTON", L"loop", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 10, 10, 100, 20,
                    window, reinterpret_cast<HMENU>(IDC_LOOP_ENABLE), instance, nullptr);
    CreateWindowExW(0, L"EDIT", L"4444", WS_CHILD | WS_VISIBLE, 10, 40, 100, 20, window,
                    reinterpret_cast<HMENU>(IDC_LOOP_START), instance, nullptr);
    CreateWindowExW(0, L"EDIT", L"5555", WS_CHILD | WS_VISIBLE, 10, 70, 100, 20, window,
                    reinterpret_cast<HMENU>(IDC_LOOP_END), instance, nullptr);
    CheckDlgButton(window, IDC_LOOP_ENABLE, BST_CHECKED);

    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quarvel-caption-ready")) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    MSG msg;
    while (IsWindow(window) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
