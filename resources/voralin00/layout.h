/* Layout values of voralin00's dialog templates: the shared ones under the names the templates
   use, and its own button height and list style. Only #defines. */
#ifndef VORALIN00_LAYOUT_H
#define VORALIN00_LAYOUT_H
#include "resources/common_layout.h"
#define DLG_FONT_SIZE SUITE_FONT_SIZE
#define DLG_FONT_FACE SUITE_FONT_FACE
#define SETTINGS_STYLE SUITE_DIALOG_STYLE
#define BUTTON_W SUITE_BUTTON_W
#define BUTTON_H 15
#define LIST_STYLE (CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP)
#endif
