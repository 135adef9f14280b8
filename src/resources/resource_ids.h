// Numbers of the dialog template and its controls; shared by the resource script and code.
#pragma once

#define IDD_CONFIG 100
#define IDC_TIME_ENABLE 200
#define IDC_TIME_LIMIT 300
#define IDC_SUBSONGS 400
#define IDC_LOOP_ENABLE 1000
#define IDC_LOOP_START 1100
#define IDC_LOOP_END 1200
#define IDC_SET_START_NOW 1300
#define IDC_SET_END_NOW 1400
#define IDC_LOOP_RESET 1500
#define IDC_APPLY 1700

#define QUARVEL_DIALOG_CAPTION "xmp-quarvel Plugin Configuration"
