// What the configuration dialog does for each of its controls, apart from Apply.
#pragma once

#include "dialog/controls.h"

namespace quarvel {

// Fills the controls from the store: what was last stored is what the dialog shows.
void open_dialog(controls::Dialog dialog);

// Time limit and looping exclude each other: ticking one box unticks the other.
void feature_box_clicked(controls::Dialog dialog, int box);

// "Set now": the live position into a loop field ("0" while nothing plays).
void set_field_to_position(controls::Dialog dialog, int field);

// "Reset": looping off and both loop fields "0", in the dialog only. Stops at the first
// change that the dialog does not answer in time (from another thread, at most three times
// controls::cross_thread_answer_ms in all) and returns whether all were made.
bool reset_looping_controls(controls::Dialog dialog);

// What a track close does to the dialog: "Reset" in the open configuration dialog, if any.
// Where the dialog's thread does not answer in time, the rest of the reset is left to that
// thread, which runs it as soon as it is free, before any later input.
void clear_looping_in_open_dialog();

}  // namespace quarvel
