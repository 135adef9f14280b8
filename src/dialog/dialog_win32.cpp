// The configuration dialog's window procedure.
#include "dialog/dialog_win32.h"

#include "dialog/apply.h"
#include "dialog/controls.h"
#include "dialog/dialog_actions.h"
#include "host/module.h"
#include "resources/resource_ids.h"

namespace quarvel {

namespace {

// Returns whether the command was handled.
bool command(HWND dialog, int control) {
    switch (control) {
        case IDOK:
            apply_dialog(dialog);
            EndDialog(dialog, 1);
            return true;
        case IDCANCEL:
            EndDialog(dialog, 1);
            return true;
        case IDC_TIME_ENABLE:
        case IDC_LOOP_ENABLE:
            feature_box_clicked(dialog, control);
            return true;
        case IDC_SET_START_NOW:
            set_field_to_position(dialog, IDC_LOOP_START);
            return true;
        case IDC_SET_END_NOW:
            set_field_to_position(dialog, IDC_LOOP_END);
            return true;
        case IDC_LOOP_RESET:
            on_reset_message(dialog);
            return true;
        case IDC_APPLY:
            apply_dialog(dialog);
            return true;
        default:
            return false;
    }
}

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            open_dialog(dialog);
            return TRUE;
        case WM_COMMAND:
            return command(dialog, LOWORD(wparam)) ? TRUE : FALSE;
        case reset_looping_message:  // from a track close, sent or posted
            // A dialog procedure gives a sent message's result through DWLP_MSGRESULT.
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, on_reset_message(dialog));
            return TRUE;
        case WM_DESTROY:
            controls::take_reset_owed(dialog);  // the window's property goes with it
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void run_config_dialog(HWND parent) {
    DialogBoxParamW(module_handle, MAKEINTRESOURCEW(IDD_CONFIG), parent, dialog_procedure, 0);
}

}  // namespace quarvel
