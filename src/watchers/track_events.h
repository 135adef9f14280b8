#pragma once

namespace quarvel {

// The player opened a track (`file` not null) or closed one (`file` null).
void new_track(const char* file);

}  // namespace quarvel
