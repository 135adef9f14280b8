// The module's entry points: attach, the one export, and the record of entries that the
// player calls.
#include <windows.h>

#include <atomic>

#include "dialog/dialog_actions.h"
#include "dialog/dialog_win32.h"
#include "host/about.h"
#include "host/host_tables.h"
#include "host/module.h"
#include "settings/settings.h"
#include "watchers/track_events.h"
#include "watchers/watcher_control.h"

namespace {

using Instance = void*;
constexpr DWORD flag_no_audio = 4;
Instance const instance_token = reinterpret_cast<Instance>(1);

void WINAPI about(HWND parent) {
    MessageBoxW(parent, quarvel::about_text, quarvel::about_caption, MB_ICONINFORMATION);
}

Instance WINAPI new_instance() {
    quarvel::load_settings();
    quarvel::begin_instance();
    return instance_token;
}

void WINAPI free_instance(Instance) {
    quarvel::end_instance();
}

const char* WINAPI get_description(Instance) {
    return quarvel::plugin_description;
}

// The player may free the instance and unload the module from a message that the dialog's
// modal loop dispatches, or from another thread while config is on its way out: no counted
// reference could be given back safely from this module's own code, so the first dialog pins
// the module until the process ends (as XMPlay keeps it anyway).
void WINAPI config(Instance, HWND parent) {
    static std::atomic<bool> pinned{false};
    if (!pinned.exchange(true)) {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&quarvel::module_handle), &module);
    }
    quarvel::run_config_dialog(parent);
}

DWORD WINAPI get_config(Instance, void*) {
    return 0;
}

BOOL WINAPI set_config(Instance, void*, DWORD) {
    return TRUE;
}

void WINAPI new_track(Instance, const char* file) {
    quarvel::new_track(file, quarvel::clear_looping_in_open_dialogs);
}

struct PluginRecord {
    DWORD flags;
    const char* name;
    void(WINAPI* about)(HWND parent);
    Instance(WINAPI* new_instance)();
    void(WINAPI* free_instance)(Instance);
    const char*(WINAPI* get_description)(Instance);
    void(WINAPI* config)(Instance, HWND parent);
    DWORD(WINAPI* get_config)(Instance, void* buffer);
    BOOL(WINAPI* set_config)(Instance, void* data, DWORD size);
    void(WINAPI* new_track)(Instance, const char* file);
    void* audio_entries[4];  // never provided: the plug-in processes no audio
};

const PluginRecord plugin_record = {
    flag_no_audio,
    quarvel::plugin_name,
    about,
    new_instance,
    free_instance,
    get_description,
    config,
    get_config,
    set_config,
    new_track,
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

HINSTANCE quarvel::module_handle = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        quarvel::module_handle = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

using GetInterface = void*(WINAPI*)(DWORD number);

extern "C" const void* WINAPI XMPDSP_GetInterface2(DWORD face, GetInterface get_interface) {
    if (face != 1) return nullptr;
    auto& services = host::services;
    services.settings.store(static_cast<host::SettingsTable*>(get_interface(1)),
                            std::memory_order_release);
    services.status.store(static_cast<host::StatusTable*>(get_interface(4)),
                          std::memory_order_release);
    services.misc.store(static_cast<host::MiscTable*>(get_interface(0)), std::memory_order_release);
    return &plugin_record;
}
