// voralin00: the image spectrum program.
#include <windows.h>

#include "frame/support/callback_guard.h"
#include "spectrum/app/app_state.h"
#include "spectrum/app/main_window.h"

namespace voralin {

const frame::ProgramTable& programTable() {
    static const frame::ProgramTable table{"VORALIN_00",
                                           "FFT_FFTinv_00",
                                           "Orbilux [II]",
                                           "VORALIN00.EXE",
                                           "VORALIN00.PDF",
                                           "VORALIN0J.PDF",
                                           "ICON_1",
                                           "CURSOR_1",
                                           "IBMP_1",
                                           448,
                                           326,
                                           20,
                                           "ABOUT_DLG",
                                           "PLEASEWAIT_DLG",
                                           &kIconBar,
                                           kCommandsRight,
                                           true,
                                           true};
    return table;
}

}  // namespace voralin

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // What fails outside a window procedure is reported as a window's failure is, and the program
    // ends as when its window could not be created.
    return frame::guardCallback(0, [&] { return voralin::runVoralin(instance, showCommand); });
}
