// What the configuration dialog does for each of its controls, apart from Apply.
//
// A track close may come on another thread at any moment of a dialog handler. So every handler
// that reads or writes the loop controls or keys first takes a close stamp and runs a reset that
// a close left owed to its dialog (begin_loop_handler); if a close was under way or began before
// it ends, it ends by clearing looping in the dialog (and Apply in the store).
#pragma once

#include "dialog/controls.h"
#include "watchers/track_events.h"

namespace quarvel {

// Fills the controls from the store: what was last stored is what the dialog shows.
void open_dialog(controls::Dialog dialog);

// Time limit and looping exclude each other: ticking one box unticks the other.
void feature_box_clicked(controls::Dialog dialog, int box);

// "Set now": the live position into a loop field ("0" while nothing plays).
void set_field_to_position(controls::Dialog dialog, int field);

// "Reset": looping off and both loop fields "0", in the dialog only.
void reset_looping_controls(controls::Dialog dialog);

// The dialog's private message from a track close (sent, or posted when the dialog did not
// answer in time): "Reset". Returns the mark by which the close knows its own dialog.
long on_reset_message(controls::Dialog dialog);
inline constexpr long reset_mark = 0x51525643;  // "QRVC"

// The start and end of a handler that touches looping (see above).
CloseStamp begin_loop_handler(controls::Dialog dialog);
void end_loop_handler(controls::Dialog dialog, CloseStamp began);

// What a track close does to the dialogs: "Reset" in every open configuration dialog, on the
// dialog's own thread. Where that thread does not answer in time, the reset is owed to that
// dialog: it is posted, and whichever handler of the dialog runs first runs it.
void clear_looping_in_open_dialogs();

}  // namespace quarvel
