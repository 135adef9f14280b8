#include <windows.h>

#include "host/module.h"
#include "watchers/thread.h"
#include "watchers/watcher_control.h"

namespace quarvel::threads {

namespace {

DWORD WINAPI watcher_thread(LPVOID parameter);

// A counted reference on this module; given back unless handed over to a thread.
class ModuleReference {
  public:
    ModuleReference() {
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&watcher_thread), &module_)) {
            module_ = nullptr;
        }
    }
    ~ModuleReference() {
        if (module_) FreeLibrary(module_);
    }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;

    explicit operator bool() const { return module_ != nullptr; }
    void hand_over() { module_ = nullptr; }

  private:
    HMODULE module_ = nullptr;
};

DWORD WINAPI watcher_thread(LPVOID parameter) {
    run_watcher(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(parameter)));
    // The reference this thread was handed is given back in the same step as the thread
    // ends, so no code of this module runs after it.
    FreeLibraryAndExitThread(module_handle, 0);
}

}  // namespace

bool start_watcher_thread(uint32_t token) {
    ModuleReference reference;  // for the thread to hold until its very end
    if (!reference) return false;
    HANDLE thread =
        CreateThread(nullptr, 0, watcher_thread,
                     reinterpret_cast<LPVOID>(static_cast<uintptr_t>(token)), 0, nullptr);
    if (!thread) return false;
    reference.hand_over();
    CloseHandle(thread);  // detached: nobody waits for it
    return true;
}

void sleep_1ms() {
    Sleep(1);
}

}  // namespace quarvel::threads
