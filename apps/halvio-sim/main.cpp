// halvio-sim: a stand-in oscilloscope for the demo, the integration tests
// and the benchmarks.
#include <signal.h>

#include <QGuiApplication>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "apps/halvio-sim/SimOptions.h"
#include "sim/fronts/PtyServer.h"
#include "sim/fronts/SocketServer.h"
#include "sim/fronts/Vxi11Server.h"
#include "sim/instrument/Instrument.h"

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

    // The screen image draws its labels with Qt's fonts, which need an
    // application object; no display is ever opened.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication qtApp(qtArgc, argv);

    try {
        const std::string model = options.model.empty() ? ModelInfo::DefaultId() : options.model;
        ScopeState state(ModelInfo::FromTable(model), options.serial);
        state.idnOverride = options.idn;
        state.faults = options.faults;
        for (int i = 0; i < ScopeState::kMaxChannels; ++i) state.signal[i] = options.signal[i];
        for (int i = 0; i < ScopeState::kPods; ++i) state.pod[i] = options.pod[i];
        state.KeepAsStartup();
        Instrument instrument(std::move(state));
        SocketServer server(instrument, options.bind, options.port);
        // Started before the listening line, so whoever waits for that line
        // finds VXI-11 ready too.
        std::unique_ptr<Vxi11Server> vxi11;
        if (options.vxi11) {
            vxi11 = std::make_unique<Vxi11Server>(instrument, options.bind, options.vxi11Port);
            vxi11->start();
        }
        server.start();
        std::printf("halvio-sim listening on %s\n", server.address().c_str());
        if (vxi11) {
            std::printf("halvio-sim VXI-11 on %s port %u (%s)\n", options.bind.c_str(),
                        static_cast<unsigned>(vxi11->port()), vxi11->portmapperMode().c_str());
        }
        std::fflush(stdout);
        // After the listening line, which launchers read first.
        std::unique_ptr<PtyServer> pty;
        if (options.pty) {
            pty = std::make_unique<PtyServer>(
                instrument, options.baud, options.paced,
                [](const std::string& path) {
                    std::printf("halvio-sim serial on %s\n", path.c_str());
                    std::fflush(stdout);
                },
                options.ptyLink);
            pty->start();
        }
        int sig = 0;
        while (sigwait(&stopSignals, &sig) != 0) {
        }
        if (pty) pty->stop();
        if (vxi11) vxi11->stop();
        server.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halvio-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
