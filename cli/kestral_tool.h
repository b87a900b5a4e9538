// kestral-cli as data: its commands and options (linked by the tool's main and by whatever else
// needs to know them, such as a binding that mirrors the options).
#pragma once

#include "cli/tool.h"
#include "crystal/engine/page.h"

namespace kestralcli {

const cli::Tool& tool();

// The pages the tool draws and saves are the program's: on a 1024-pixel-wide screen, below the
// 21 rows the program's icon bar takes at the top of its client area.
inline constexpr crystal::PageLayout kPageLayout{1024, 21};

}  // namespace kestralcli
