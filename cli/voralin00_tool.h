// voralin00-cli as data: its commands and options (linked by the tool's main and by whatever
// else needs to know them, such as a binding that mirrors the options).
#pragma once

#include "cli/tool.h"

namespace voralin00cli {

const cli::Tool& tool();

}  // namespace voralin00cli
