// The plug-in as the player binds it: the three tables it hands out (with the settings store,
// the tags and the shortcut commands behind them), the module's load, binding, instance and
// unload, and the track events the plug-in is told of.
#include <cstdlib>
#include <cstring>

#include "sim_player.h"
#include "thread_watch.h"

namespace sim {

namespace {

// --- The three tables, as the player hands them out ----------------------------------
HWND WINAPI misc_main_window() {
    return Player::instance->window();
}
void WINAPI misc_release(void* text) {
    Player::instance->release(text);
}
char* WINAPI misc_get_tag(int number) {
    return Player::instance->tag(number);
}
BOOL WINAPI misc_shortcut(const char* command) {
    return Player::instance->shortcut(command);
}

BOOL WINAPI settings_get_int(const char* section, const char* key, int* value) {
    return Player::instance->settings_get(section, key, value);
}
BOOL WINAPI settings_set_bin(const char* section, const char* key, const void* data, DWORD size) {
    return Player::instance->settings_remove(section, key, data, size);
}
BOOL WINAPI settings_set_int(const char* section, const char* key, const int* value) {
    return Player::instance->settings_set(section, key, value);
}

BOOL WINAPI status_is_playing() {
    return Player::instance->is_playing_query();
}

// Entries counted from 0 here; the entries the plug-in does not use stay null.
struct Tables {
    void* misc[32] = {};
    void* settings[32] = {};
    void* status[32] = {};
    Tables() {
        misc[1] = reinterpret_cast<void*>(misc_main_window);
        misc[4] = reinterpret_cast<void*>(misc_release);
        misc[12] = reinterpret_cast<void*>(misc_get_tag);
        misc[16] = reinterpret_cast<void*>(misc_shortcut);
        settings[2] = reinterpret_cast<void*>(settings_get_int);
        settings[3] = reinterpret_cast<void*>(settings_set_bin);
        settings[5] = reinterpret_cast<void*>(settings_set_int);
        status[0] = reinterpret_cast<void*>(status_is_playing);
    }
} tables;

void* WINAPI get_interface_entry(DWORD number) {
    return Player::instance->get_interface(number);
}

std::string key_of(const char* section, const char* key) {
    return std::string(section ? section : "(null)") + "/" + (key ? key : "(null)");
}

std::string quoted(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : "null";
}

}  // namespace

// --- The module ----------------------------------------------------------------------------

bool Player::load(const std::wstring& dll_path, std::string* error) {
    module_ = LoadLibraryW(dll_path.c_str());
    if (!module_) {
        const DWORD code = GetLastError();
        if (error) {
            *error = "cannot load " + narrow(dll_path) + " (error " + std::to_string(code) + ")";
            if (code == ERROR_BAD_EXE_FORMAT)
                *error += ": it is not built for this player's architecture (" +
                          std::string(sizeof(void*) == 8 ? "x86-64" : "i386") + ")";
        }
        return false;
    }
    if (!GetProcAddress(module_, "XMPDSP_GetInterface2")) {
        if (error) *error = narrow(dll_path) + " has no XMPDSP_GetInterface2 export";
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    forget_plugin_threads();
    transport_->allow_switches();
    threads_watched_ = watch_threads(module_);
    log("plug-in loaded: " + narrow(dll_path));
    return true;
}

const PluginRecord* Player::bind(DWORD face) {
    auto fn = reinterpret_cast<BindFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "XMPDSP_GetInterface2")));
    const PluginRecord* r = fn(face, get_interface_entry);
    log("bind face " + std::to_string(face) + (r ? " -> record" : " -> null"));
    if (r) record_ = r;
    return r;
}

void Player::start_instance() {
    run_on_player_thread([this] {
        instance_ = record_->new_instance();
        instance_live_ = true;
        log("new_instance -> " + std::to_string(reinterpret_cast<uintptr_t>(instance_)));
        const BOOL taken = record_->set_config(instance_, nullptr, 0);
        log(std::string("set_config(0 bytes) -> ") + (taken ? "true" : "false"));
    });
}

bool Player::unload(DWORD wait_ms) {
    if (!module_) return true;
    transport_->end_switches();
    if (record_) {
        // Like a real player, no track event reaches an instance after free_instance, not
        // even one that a watcher's last command causes meanwhile.
        run_on_track_thread([this] { instance_live_ = false; });
        run_on_player_thread([this] {
            char buffer[256];
            log("get_config -> " + std::to_string(record_->get_config(instance_, buffer)));
            record_->free_instance(instance_);
            log("free_instance");
        });
    }
    return free_module(wait_ms);
}

void Player::describe_and_free_instance() {
    log("get_description -> " + quoted(record_->get_description(instance_)));
    instance_live_ = false;
    record_->free_instance(instance_);
    log("free_instance");
}

// FreeLibrary, then waits until the module has gone. A module that stays once none of its
// threads runs any more holds itself (pinned): that is not waited for.
bool Player::free_module(DWORD wait_ms) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module_, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    FreeLibrary(module_);
    module_ = nullptr;
    record_ = nullptr;
    const double deadline = now_ms() + wait_ms;
    while (GetModuleHandleW(name.c_str())) {
        if (now_ms() > deadline ||
            (threads_watched_ && plugin_threads_running() == 0 && GetModuleHandleW(name.c_str()))) {
            log("plug-in stays loaded");
            return false;
        }
        Sleep(1);
    }
    log("plug-in unloaded");
    return true;
}

void* Player::get_interface(DWORD number) {
    log("get_interface " + std::to_string(number));
    switch (number) {
        case 0:
            return tables.misc;
        case 1:
            return tables.settings;
        case 4:
            return tables.status;
        default:
            return nullptr;
    }
}

void Player::tell_track_opened(const std::string& file) {
    if (instance_live_ && record_) record_->new_track(instance_, file.c_str());
}

void Player::tell_track_closed() {
    if (!instance_live_ || !record_) return;
    const double began = now_ms();
    record_->new_track(instance_, nullptr);
    last_close_ms_ = now_ms() - began;
}

// --- Services --------------------------------------------------------------------------

BOOL Player::shortcut(const char* command) {
    const std::string c = command ? command : "";
    hold_point("command " + c);
    log("command " + c);
    std::shared_ptr<const CommandHook> hook;
    {
        std::lock_guard<std::mutex> lock(log_mutex_);
        hook = on_command_;
    }
    if (hook && (*hook)(c)) return TRUE;
    transport_->command(c);
    return TRUE;
}

BOOL Player::is_playing_query() {
    hold_point("status playing");
    const bool p = transport_->status_playing();
    log(std::string("status playing -> ") + (p ? "1" : "0"));
    return p ? TRUE : FALSE;
}

char* Player::tag(int number) {
    hold_point("tag " + std::to_string(number));
    // Tag -5 tells a track's subsong count; a track without subsongs has no such tag.
    const int subsongs = number == -5 ? transport_->subsongs_reported() : 0;
    char* copy = subsongs > 0 ? strdup(std::to_string(subsongs).c_str()) : nullptr;
    if (copy) {
        std::lock_guard<std::mutex> lock(store_mutex_);
        texts_.push_back(copy);
    }
    log("tag " + std::to_string(number) + " -> " + quoted(copy));
    return copy;
}

void Player::release(void* text) {
    std::string shown = "<not handed out>";
    {
        std::lock_guard<std::mutex> lock(store_mutex_);
        for (auto it = texts_.begin(); it != texts_.end(); ++it) {
            if (*it == text) {
                shown = quoted(*it);
                std::free(*it);
                texts_.erase(it);
                break;
            }
        }
    }
    log("release " + shown);
}

BOOL Player::settings_get(const char* section, const char* key, int* value) {
    const std::string k = key_of(section, key);
    bool found = false;
    int32_t v = 0;
    {
        std::lock_guard<std::mutex> lock(store_mutex_);
        auto it = store_.find(k);
        if (it != store_.end()) {
            found = true;
            v = it->second;
        }
    }
    if (found) *value = v;
    log("store read " + k + (found ? " -> " + std::to_string(v) : " -> absent"));
    return found ? TRUE : FALSE;
}

BOOL Player::settings_set(const char* section, const char* key, const int* value) {
    const std::string k = key_of(section, key);
    hold_point("store write " + k + " = " + std::to_string(*value));
    {
        std::lock_guard<std::mutex> lock(store_mutex_);
        store_[k] = *value;
    }
    log("store write " + k + " = " + std::to_string(*value));
    return TRUE;
}

BOOL Player::settings_remove(const char* section, const char* key, const void* data, DWORD size) {
    const std::string k = key_of(section, key);
    if (data || size) {
        log("store set binary " + k + " (" + std::to_string(size) + " bytes, unexpected)");
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(store_mutex_);
        store_.erase(k);
    }
    log("store remove " + k);
    return TRUE;
}

std::map<std::string, int32_t> Player::store() {
    std::lock_guard<std::mutex> lock(store_mutex_);
    return store_;
}

void Player::set_store(std::map<std::string, int32_t> values) {
    std::lock_guard<std::mutex> lock(store_mutex_);
    store_ = std::move(values);
}

}  // namespace sim
