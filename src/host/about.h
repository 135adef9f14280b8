// The plug-in's names and the text of its About box.
#pragma once

namespace quarvel {

inline constexpr char plugin_name[] = "XMPlay Quarvel plugin";
inline constexpr char plugin_description[] = "XMPlay Quarvel plugin 1.4";
inline constexpr wchar_t about_caption[] = L"xmp-quarvel";

// The build date and time are those of this file's compilation.
inline constexpr wchar_t about_text[] =
    L"XMPlay Quarvel plugin 1.4 (built " __DATE__ " " __TIME__
    ")\n\n"
    L"Time limit per song and section looping for the song now playing.\n";

}  // namespace quarvel
