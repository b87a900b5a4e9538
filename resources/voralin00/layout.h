/* Layout values shared by the dialog templates of voralin00. Only #defines. */
#ifndef VORALIN00_LAYOUT_H
#define VORALIN00_LAYOUT_H
#define DLG_FONT_SIZE 8
#define DLG_FONT_FACE "Helv"
#define SETTINGS_STYLE (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define BUTTON_W 50
#define BUTTON_H 15
#define LIST_STYLE (CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP)
#endif
