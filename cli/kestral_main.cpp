// kestral-cli: the crystal slicing engine for batch work.
#include "cli/kestral_tool.h"

int main(int argc, char** argv) {
    return cli::toolMain(kestralcli::tool(), argc, argv);
}
