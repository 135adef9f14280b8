#include "host/about.h"

namespace quarvel {

// Defined in this one file, so that every part of the module shows the same build time.
extern const wchar_t about_text[] =
    L"XMPlay Quarvel plugin 1.4 (built " __DATE__ " " __TIME__
    ")\n\n"
    L"Time limit per song and section looping for the song now playing.\n";

}  // namespace quarvel
