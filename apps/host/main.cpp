// wavecatch: the command-line host of the Halvio add-in.
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/halvio-sim/SimProcess.h"
#include "scope/CScope.h"
#include "scope/ModelTable.h"

namespace {

int usage() {
    std::puts(
        "usage: wavecatch demo\n"
        "       wavecatch scope --address ADDR idn\n"
        "\n"
        "demo   starts the Halvio simulator on a free loopback port, connects to it\n"
        "       and prints what the scope says about itself.\n"
        "scope  connects to the scope at ADDR (for example 192.168.1.20:5025) and\n"
        "       prints its model, channel count and whether it has digital pods.");
    return 2;
}

int identify(const std::string& address) {
    cvn::LoadModelTable();
    cvn::CScope scope;
    if (!scope.Connect(address)) {
        std::fprintf(stderr, "wavecatch: no scope answered at %s\n", address.c_str());
        return 1;
    }
    std::printf("address:       %s\n", address.c_str());
    std::printf("model:         %s\n", scope.model().c_str());
    std::printf("channels:      %d\n", scope.ChannelCount());
    std::printf("digital pods:  %s\n", scope.IsMSO() ? "yes" : "no");
    std::printf("supported:     %s\n", cvn::IsSupportedModel(scope.model()) ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    try {
        if (command == "demo") {
            cvn::sim::SimProcess sim({"--model", "MSOHX5104"});
            std::printf("simulator:     %s\n", sim.address().c_str());
            return identify(sim.address());
        }
        if (command == "scope" && argc == 5 && std::strcmp(argv[2], "--address") == 0 &&
            std::strcmp(argv[4], "idn") == 0)
            return identify(argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wavecatch: %s\n", e.what());
        return 1;
    }
    return usage();
}
