// Apply: stores the dialog's settings, corrects the loop section and switches the watchers.
#pragma once

#include <cstdint>
#include <optional>

#include "dialog/controls.h"

namespace quarvel {

struct LoopSection {
    int32_t start;
    int32_t end;
};

// The loop section as typed (std::nullopt for a number above 2147483647), corrected against
// the length of the track now playing (-1 when nothing plays). Afterwards
// start <= end, end < length or end == start, and start < length or start == 0.
LoopSection correct_loop_section(std::optional<int32_t> start, std::optional<int32_t> end,
                                 int32_t length);

// Looping needs a playing track and a section that begins after 0 and is not empty.
bool loop_section_usable(const LoopSection& section);

void apply_dialog(controls::Dialog dialog);

}  // namespace quarvel
