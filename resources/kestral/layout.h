/* Layout values of kestral's dialog templates: the shared ones under the names the templates
   use, and its own button height, edit and combo styles. Only #defines. */
#ifndef KESTRAL_LAYOUT_H
#define KESTRAL_LAYOUT_H
#include "resources/common_layout.h"
#define K_FONT_SIZE SUITE_FONT_SIZE
#define K_FONT_FACE SUITE_FONT_FACE
#define K_DIALOG_STYLE SUITE_DIALOG_STYLE
#define K_BUTTON_W SUITE_BUTTON_W
#define K_BUTTON_H 14
#define K_EDIT_STYLE (ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP)
#define K_COMBO_STYLE (CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP)
#endif
