// Control ids of the main window, shared by the window and the resource script. They stay clear
// of IDOK and IDCANCEL so that Enter and Esc, which the dialog manager turns into those ids,
// never press a button: neither button is a default or a cancel button.
#pragma once

#define IDC_TEXT1 101
#define IDC_COMMAND1 102
#define IDC_COMMAND2 103
#define IDC_LABEL1 104
#define IDC_LABEL2 105

#define IDI_OSTREL 1
