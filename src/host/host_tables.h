// The player's side of the binding: the three function tables it hands out by interface
// number, as this plug-in uses them. Entries the plug-in never calls are kept only as
// placeholders so that the used ones sit at their places.
#pragma once

#include <windows.h>

#include <atomic>

namespace host {

struct MiscTable {  // interface 0
    void* entry1;
    HWND(WINAPI* main_window)();  // 2
    void* entries3_4[2];
    void(WINAPI* release)(void* text);  // 5
    void* entries6_12[7];
    char*(WINAPI* get_tag)(int tag);  // 13
    void* entries14_16[3];
    BOOL(WINAPI* perform_shortcut)(const char* command);  // 17
};

struct SettingsTable {  // interface 1
    void* entries1_2[2];
    BOOL(WINAPI* get_int)(const char* section, const char* key, int* value);  // 3
    BOOL(WINAPI* set_bin)(const char* section, const char* key, const void* data,
                          DWORD size);  // 4
    void* entry5;
    BOOL(WINAPI* set_int)(const char* section, const char* key, const int* value);  // 6
};

struct StatusTable {             // interface 4
    BOOL(WINAPI* is_playing)();  // 1
};

// Set by every binding and kept for the life of the process. A watcher that was stopped may
// still be finishing its pass (and reading these) when the player binds again, so each
// pointer is one atomic word.
struct HostServices {
    std::atomic<SettingsTable*> settings{nullptr};
    std::atomic<StatusTable*> status{nullptr};
    std::atomic<MiscTable*> misc{nullptr};
};

extern HostServices services;

}  // namespace host
