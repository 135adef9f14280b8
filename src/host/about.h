// The plug-in's names and the text of its About box.
#pragma once

namespace quarvel {

inline constexpr char plugin_name[] = "XMPlay Quarvel plugin";
inline constexpr char plugin_description[] = "XMPlay Quarvel plugin 1.4";
inline constexpr wchar_t about_caption[] = L"xmp-quarvel";

// "XMPlay Quarvel plugin 1.4 (built <date> <time>)" and a line of notice, where date and time
// are those at which the module was compiled (about.cpp).
extern const wchar_t about_text[];

}  // namespace quarvel
