// voralin00's main window: registration, creation, the message loop.
#pragma once

#include <windows.h>

namespace voralin {

// Runs the program; returns the exit code of the message loop, or 0 when the window could not
// be created (including a second copy closing itself).
int runVoralin(HINSTANCE instance, int showCommand);

}  // namespace voralin
