// halvio-sim: a stand-in oscilloscope for the demo, the integration tests
// and the benchmarks.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "apps/halvio-sim/Instrument.h"
#include "apps/halvio-sim/Server.h"
#include "apps/halvio-sim/SimOptions.h"

int main(int argc, char** argv) {
    using namespace cvn::sim;
    SimOptions options;
    try {
        options = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halvio-sim: %s\n%s", e.what(), SimUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }

    // Every thread started from here on inherits the blocked set, so the
    // signals arrive only at the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        const std::string model = options.model.empty() ? ModelInfo::DefaultId() : options.model;
        ScopeState state(ModelInfo::FromTable(model), options.serial);
        state.idnOverride = options.idn;
        state.faults = options.faults;
        state.startupFaults = options.faults;
        Instrument instrument(std::move(state));
        Server server(instrument, options.bind, options.port);
        server.start();
        std::printf("halvio-sim listening on %s\n", server.address().c_str());
        std::fflush(stdout);
        int sig = 0;
        while (sigwait(&stopSignals, &sig) != 0) {
        }
        server.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halvio-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
