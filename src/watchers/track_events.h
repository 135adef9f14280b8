#pragma once

#include <cstdint>

namespace quarvel {

// Clears looping in the configuration dialog when it is open (the dialog's own "Reset").
using ClearDialogLooping = void (*)();

// The player opened a track (`file` not null) or closed one (`file` null). A close clears
// looping: the watcher, the open dialog (through `clear_dialog_looping`) and the store.
void new_track(const char* file, ClearDialogLooping clear_dialog_looping);

// Counts the halves of track closes: odd while a close is under way. Looping belongs to the
// track that was playing when Apply began, so Apply keeps it armed only while this count is
// the even one it saw when it began.
uint32_t track_close_count();

}  // namespace quarvel
