#pragma once

#include <cstdint>

namespace quarvel {

// Clears looping in the configuration dialog when it is open (the dialog's own "Reset").
using ClearDialogLooping = void (*)();

// The player opened a track (`file` not null) or closed one (`file` null). A close clears
// looping: the watcher, the open dialog (through `clear_dialog_looping`) and the store. An
// open starts the time watcher when the time limit is on.
void new_track(const char* file, ClearDialogLooping clear_dialog_looping);

// A snapshot of the track closes: it changes when a close begins, and again when it ends.
// Looping belongs to the track that was playing when a dialog handler began: each handler
// that touches looping takes a stamp first and undoes what it did for looping when the track
// has changed since; the loop watcher makes its passes only while the track it was armed for
// still plays.
using CloseStamp = uint32_t;
CloseStamp track_close_stamp();
// Whether the track playing when `stamp` was taken still plays: no close was under way then,
// and none has begun since.
bool same_track(CloseStamp stamp);

}  // namespace quarvel
