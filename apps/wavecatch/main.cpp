// wavecatch: the command-line host of the Halvio add-in. It loads the
// add-in module, drives its objects through dispatch only, and saves what
// they deliver.
#include <iostream>
#include <string>
#include <vector>

#include "apps/wavecatch/Commands.h"
#include "support/AtomicFile.h"

int main(int argc, char** argv) {
    // Ctrl-C or a kill in the middle of writing a file leaves no temporary
    // file behind.
    cvn::InstallTempFileCleanup();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = cvn::host::RunWavecatch(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
