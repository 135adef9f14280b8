#include "dialog/dialog_actions.h"

#include "dialog/number_text.h"
#include "host/host.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"

namespace quarvel {

namespace {

int32_t stored(const char* key) {
    int32_t value = 0;
    if (!host::store_read(key, value)) value = default_of(key);
    return value;
}

void tick_if_set(controls::Dialog dialog, int box, const char* key) {
    if (stored(key) != 0) controls::set_checked(dialog, box, true);
}

}  // namespace

CloseStamp begin_loop_handler(controls::Dialog dialog) {
    // The stamp before the owed reset: a close that sets the word only after this handler has
    // looked at it began after the stamp was taken, and the handler's end sees it.
    const CloseStamp began = track_close_stamp();
    if (controls::take_reset_owed(dialog)) reset_looping_controls(dialog);
    return began;
}

void end_loop_handler(controls::Dialog dialog, CloseStamp began) {
    if (!same_track(began)) reset_looping_controls(dialog);
}

void open_dialog(controls::Dialog dialog) {
    // The dialog opening while a track closes: the close may not find it yet, and it may read
    // the store before the close writes its zeros.
    const CloseStamp began = begin_loop_handler(dialog);
    tick_if_set(dialog, IDC_TIME_ENABLE, keys::check_time_limit);
    // Shown unsigned, as the field reads it back: a negative limit appears as a large number.
    controls::set_text(
        dialog, IDC_TIME_LIMIT,
        format_unsigned_decimal(static_cast<uint32_t>(stored(keys::time_limit))).c_str());
    tick_if_set(dialog, IDC_SUBSONGS, keys::subsong_limit);
    tick_if_set(dialog, IDC_LOOP_ENABLE, keys::check_looping);
    controls::set_text(dialog, IDC_LOOP_START,
                       format_signed_decimal(stored(keys::start_loop_time)).c_str());
    controls::set_text(dialog, IDC_LOOP_END,
                       format_signed_decimal(stored(keys::end_loop_time)).c_str());
    end_loop_handler(dialog, began);
}

void feature_box_clicked(controls::Dialog dialog, int box) {
    const int other = box == IDC_TIME_ENABLE ? IDC_LOOP_ENABLE : IDC_TIME_ENABLE;
    if (controls::is_checked(dialog, box)) controls::set_checked(dialog, other, false);
}

void set_field_to_position(controls::Dialog dialog, int field) {
    // While it waits for the position, the dialog's thread may take a close's reset: the
    // position answered may then be the closed track's.
    const CloseStamp began = begin_loop_handler(dialog);
    const int32_t position = host::position();
    controls::set_text(dialog, field, format_signed_decimal(position == -1 ? 0 : position).c_str());
    end_loop_handler(dialog, began);
}

void reset_looping_controls(controls::Dialog dialog) {
    controls::set_checked(dialog, IDC_LOOP_ENABLE, false);
    controls::set_text(dialog, IDC_LOOP_START, L"0");
    controls::set_text(dialog, IDC_LOOP_END, L"0");
}

long on_reset_message(controls::Dialog dialog) {
    begin_loop_handler(dialog);
    reset_looping_controls(dialog);
    return reset_mark;
}

void clear_looping_in_open_dialogs() {
    controls::Dialog found[controls::most_open_dialogs];
    const size_t count = controls::find_open_dialogs(found, controls::most_open_dialogs);
    // One wait for all of them: a close holds up the player's thread once at most.
    unsigned wait_left_ms = controls::cross_thread_answer_ms;
    for (size_t i = 0; i < count; ++i) {
        if (controls::reset_now(found[i], wait_left_ms)) continue;
        // Owed before it is posted: a handler of that dialog that begins before the posted
        // reset runs it. One that began earlier sees this close in its stamp.
        controls::mark_reset_owed(found[i]);
        controls::reset_later(found[i]);
    }
}

}  // namespace quarvel
