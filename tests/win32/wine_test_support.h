// Shared by the tests that run the built DLL in the simulated player under Wine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource_ids.h"
#include "sim_player.h"

namespace quarvel_test {

inline std::wstring dll_path() { return sim::program_directory() + L"xmp-quarvel.dll"; }

inline constexpr wchar_t dialog_caption[] = L"" QUARVEL_DIALOG_CAPTION;

template <class Condition>
bool wait_until(Condition condition, DWORD timeout_ms = 3000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(1);
    }
    return true;
}

// "QUARVEL/<key>" in the player's store.
inline std::string key(const char* name) { return std::string("QUARVEL/") + name; }

// The player with the plug-in loaded, bound and given its instance.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { SetUpWithStore({}); }

    void SetUpWithStore(std::map<std::string, int32_t> store) {
        player.set_store(std::move(store));
        std::string error;
        ASSERT_TRUE(player.load(dll_path(), &error)) << error;
        ASSERT_NE(player.bind(1), nullptr);
        player.start_instance();
    }

    int32_t stored(const char* name) {
        auto s = player.store();
        auto it = s.find(key(name));
        return it == s.end() ? INT32_MIN : it->second;
    }

    sim::Player player;
};

// --- Driving a dialog with messages, from the test's thread ------------------------------
inline void click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

inline bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

inline std::wstring text(HWND dialog, int id) {
    wchar_t buffer[256] = {};
    GetDlgItemTextW(dialog, id, buffer, 256);
    return buffer;
}

inline void type(HWND dialog, int id, const wchar_t* value) { SetDlgItemTextW(dialog, id, value); }

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

inline bool gone(HWND window) {
    return wait_until([&] { return !IsWindow(window); });
}

}  // namespace quarvel_test
