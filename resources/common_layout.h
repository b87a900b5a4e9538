/* Layout values the dialog templates of both programs share: the font, the style of a settings
   dialog and the width of a push button. Each program's layout.h adds its own (button height,
   list and edit styles). Only #defines. */
#ifndef SUITE_COMMON_LAYOUT_H
#define SUITE_COMMON_LAYOUT_H
#define SUITE_FONT_SIZE 8
#define SUITE_FONT_FACE "Helv"
#define SUITE_DIALOG_STYLE (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define SUITE_BUTTON_W 50
#endif
