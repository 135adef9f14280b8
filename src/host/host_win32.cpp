// The player's services over its function tables and its main window's messages.
#include <windows.h>

#include "host/host.h"
#include "host/host_tables.h"

namespace host {

HostServices services;

namespace {

constexpr char section[] = "QUARVEL";

// Services of the main window, chosen by lParam of WM_USER.
constexpr LPARAM ipc_is_playing = 104;   // wParam 0: 1 playing, 3 paused, 0 stopped
constexpr LPARAM ipc_output_time = 105;  // wParam 0: position, 1: length (s), 2: length (ms)
constexpr LPARAM ipc_jump_to_time = 106;
constexpr LPARAM ipc_list_length = 124;

MiscTable& misc() {
    return *services.misc.load(std::memory_order_acquire);
}
SettingsTable& settings() {
    return *services.settings.load(std::memory_order_acquire);
}

int32_t ask_window(WPARAM wparam, LPARAM service) {
    // Fetched afresh for every message: the player may recreate its window.
    const LRESULT result = SendMessageW(misc().main_window(), WM_USER, wparam, service);
    return static_cast<int32_t>(result);
}

}  // namespace

int32_t position() {
    return ask_window(0, ipc_output_time);
}
bool output_playing() {
    return ask_window(0, ipc_is_playing) == 1;
}
int32_t track_length() {
    return ask_window(2, ipc_output_time);
}
int32_t track_seconds() {
    return ask_window(1, ipc_output_time);
}
int32_t playlist_length() {
    return ask_window(0, ipc_list_length);
}
void jump_to(int32_t ms) {
    ask_window(static_cast<WPARAM>(static_cast<uint32_t>(ms)), ipc_jump_to_time);
}

void send_command(const char* command) {
    misc().perform_shortcut(command);
}

const char* tag(int32_t number) {
    return misc().get_tag(number);
}
void release_text(const char* text) {
    misc().release(const_cast<char*>(text));
}

bool store_read(const char* key, int32_t& value) {
    int read = 0;
    if (!settings().get_int(section, key, &read)) return false;
    value = read;
    return true;
}

void store_write(const char* key, int32_t value) {
    const int v = value;
    settings().set_int(section, key, &v);
}

void store_remove(const char* key) {
    settings().set_bin(section, key, nullptr, 0);
}

bool is_playing() {
    return services.status.load(std::memory_order_acquire)->is_playing() != 0;
}

}  // namespace host
