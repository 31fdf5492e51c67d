// wavecatch: the command-line host of the Halvio add-in. It loads the
// add-in module, drives its objects through dispatch only, and saves what
// they deliver.
#include <iostream>
#include <string>
#include <vector>

#include "apps/host/Commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = cvn::host::RunWavecatch(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
