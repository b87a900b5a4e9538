// kestral: the crystal slicing program.
#include <windows.h>

#include "crystal/app/app_state.h"
#include "frame/support/callback_guard.h"

namespace kestral {

const frame::ProgramTable& programTable() {
    static const frame::ProgramTable table{"KESTRAL",     kProvisionalTitle,
                                           kTitle,        "KESTRAL.EXE",
                                           "KESTRAL.PDF", "KESTRAJ.PDF",
                                           "ICON_1",      nullptr,
                                           "IBMP_1",      384,
                                           288,           0,
                                           "ABOUT_DLG",   "PLEASEWAIT_DLG",
                                           &kIconBar,     kCommandsRight,
                                           false,         false};  // the arrow rule is voralin00's
    return table;
}

int runKestral(HINSTANCE instance, int showCommand);

}  // namespace kestral

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // What fails outside a window procedure is reported as a window's failure is, and the program
    // ends as when its window could not be created.
    return frame::guardCallback(0, [&] { return kestral::runKestral(instance, showCommand); });
}
