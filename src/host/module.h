#pragma once

#include <windows.h>

namespace quarvel {

// The plug-in's own module, stored at process attach; the dialog template is loaded from it.
extern HINSTANCE module_handle;

// A counted reference on this module, given back when it goes unless handed over (to a
// thread that gives it back as its last act) or kept for good (the module then stays until
// the process ends). Code of this module must never give back the last reference while it
// is itself still on the stack.
class ModuleReference {
  public:
    ModuleReference() {
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&module_handle), &module_)) {
            module_ = nullptr;
        }
    }
    ~ModuleReference() {
        if (module_) FreeLibrary(module_);
    }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;

    explicit operator bool() const { return module_ != nullptr; }
    // Not given back here: handed over, or kept for good.
    void keep() { module_ = nullptr; }

  private:
    HMODULE module_ = nullptr;
};

}  // namespace quarvel
