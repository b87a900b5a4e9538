// kestral: the crystal slicing program.
#include <windows.h>

#include "crystal/app/app_state.h"

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
    return kestral::runKestral(instance, showCommand);
}
