/* Layout values shared by the dialog templates of kestral. Only #defines. */
#ifndef KESTRAL_LAYOUT_H
#define KESTRAL_LAYOUT_H
#define K_FONT_SIZE 8
#define K_FONT_FACE "Helv"
#define K_DIALOG_STYLE (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define K_BUTTON_W 50
#define K_BUTTON_H 14
#define K_EDIT_STYLE (ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP)
#define K_COMBO_STYLE (CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP)
#endif
