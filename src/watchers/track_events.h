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
// Looping belongs to the track that was playing when Apply began, so Apply arms it only for a
// stamp taken while no close was under way, and the loop watcher makes its passes only while
// the stamp it was armed for is still the current one.
using CloseStamp = uint32_t;
CloseStamp track_close_stamp();
// Whether `stamp` was taken while no track close was under way.
bool no_close_under_way(CloseStamp stamp);

}  // namespace quarvel
