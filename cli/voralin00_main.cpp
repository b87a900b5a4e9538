// voralin00-cli: the image spectrum engine without a window, for batch work and scripting.
#include "cli/voralin00_tool.h"

int main(int argc, char** argv) {
    return cli::toolMain(voralin00cli::tool(), argc, argv);
}
