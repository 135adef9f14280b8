#pragma once

#include <windows.h>

namespace quarvel {

// The plug-in's own module, stored at process attach; the dialog template is loaded from it.
extern HINSTANCE module_handle;

}  // namespace quarvel
