// kestral-cli as data: its commands and options (linked by the tool's main and by whatever else
// needs to know them, such as a binding that mirrors the options).
#pragma once

#include "cli/tool.h"

namespace kestralcli {

const cli::Tool& tool();

}  // namespace kestralcli
