// Command line of halvio-sim.
#include "apps/halvio-sim/SimOptions.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

namespace cvn::sim {
namespace {

long ToNumber(const std::string& option, const std::string& text, long lo, long hi) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) {
        throw std::invalid_argument(option + " needs a whole number from " + std::to_string(lo) +
                                    " to " + std::to_string(hi) + ", not \"" + text + "\"");
    }
    return v;
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
    SimOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--port") {
            o.port = static_cast<uint16_t>(ToNumber(a, value(), 0, 65535));
        } else if (a == "--bind") {
            o.bind = value();
        } else if (a == "--model") {
            o.model = value();
            // Blanks are allowed on purpose: clients must not trim the field.
            if (o.model.empty() || o.model.find_first_of(",\r\n;") != std::string::npos) {
                throw std::invalid_argument(
                    "--model needs an identifier without commas, semicolons or line ends");
            }
        } else if (a == "--serial") {
            o.serial = value();
            if (o.serial.find_first_of(",\r\n;") != std::string::npos) {
                throw std::invalid_argument(
                    "--serial must not contain commas, semicolons or line ends");
            }
        } else if (a == "--idn") {
            o.idn = value();
            if (o.idn.empty() || o.idn.find_first_of("\r\n") != std::string::npos) {
                throw std::invalid_argument("--idn needs a one-line text");
            }
        } else if (a == "--vxi11") {
            o.vxi11 = true;
        } else if (a == "--vxi11-port") {
            o.vxi11 = true;
            o.vxi11Port = static_cast<uint16_t>(ToNumber(a, value(), 0, 65535));
        } else if (a == "--pty") {
            o.pty = true;
        } else if (a == "--pty-link") {
            o.pty = true;
            o.ptyLink = value();
            if (o.ptyLink.empty()) throw std::invalid_argument("--pty-link needs a path");
        } else if (a == "--baud") {
            o.baud = static_cast<int>(ToNumber(a, value(), 1, 4000000));
            static constexpr int kRates[] = {1200,  2400,  4800,   9600,  19200,
                                             38400, 57600, 115200, 230400};
            if (std::find(std::begin(kRates), std::end(kRates), o.baud) == std::end(kRates)) {
                throw std::invalid_argument(
                    "--baud needs one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, "
                    "230400");
            }
        } else if (a == "--paced") {
            o.paced = true;
        } else if (a == "--delay-ms") {
            o.faults.delayMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--idn-delay-ms") {
            o.faults.idnDelayMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--acquire-ms") {
            o.faults.acquireMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--never-trigger") {
            o.faults.neverTrigger = true;
        } else if (a == "--acquire-phase-step") {
            o.faults.acquirePhaseStepDeg = ToNumber(a, value(), -360, 360);
        } else if (a == "--status-form") {
            const std::string f = value();
            if (f == "plain")
                o.faults.statusForm = FaultConfig::StatusForm::Plain;
            else if (f == "signed")
                o.faults.statusForm = FaultConfig::StatusForm::Signed;
            else if (f == "crlf")
                o.faults.statusForm = FaultConfig::StatusForm::CrLf;
            else
                throw std::invalid_argument("--status-form needs plain, signed or crlf");
        } else if (a == "--drop-after") {
            o.faults.dropAfter = ToNumber(a, value(), 0, 1000000000);
        } else if (a == "--garbage") {
            o.faults.garbage = true;
        } else if (a == "--silent") {
            o.faults.silent = true;
        } else if (a == "--truncate-data") {
            o.faults.truncateData = true;
        } else if (a == "--short-data") {
            o.faults.shortData = true;
        } else if (a == "--lying-header") {
            const std::string& mode = value();
            if (mode == "close") {
                o.faults.lyingHeader = LyingHeader::Close;
            } else if (mode == "wait") {
                o.faults.lyingHeader = LyingHeader::Wait;
            } else {
                throw std::invalid_argument("--lying-header needs \"close\" or \"wait\"");
            }
        } else if (a == "--cut-data") {
            o.faults.cutData = true;
        } else if (a == "--fault-source") {
            const std::string& name = value();
            o.faults.faultSource = ParseSource(name);
            if (!o.faults.faultSource)
                throw std::invalid_argument(
                    "--fault-source needs a source such as CHAN2 or POD1, "
                    "not \"" +
                    name + "\"");
        } else if (a == "--garbage-preamble") {
            o.faults.garbagePreamble = true;
        } else if (a == "--wrong-yincrement") {
            o.faults.wrongYIncrement = true;
        } else if (a == "--reset-screen") {
            o.faults.resetScreen = true;
        } else if (a == "--late-terminator-ms") {
            o.faults.lateTerminatorMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--indefinite-blocks") {
            o.faults.indefiniteBlocks = true;
        } else if (a == "--measure-reply") {
            o.faults.measureReply = value();
        } else if (a == "--preamble-extra") {
            o.faults.preambleExtra = true;
            o.faults.preambleExtraText = value();
        } else if (a.size() == 7 && a.rfind("--chan", 0) == 0 && a[6] >= '1' &&
                   a[6] < '1' + ScopeState::kMaxChannels) {
            SignalConfig& sig = o.signal[a[6] - '1'];
            try {
                sig = ParseSignal(value(), sig);
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument(a + ": " + e.what());
            }
        } else if (a.size() == 6 && a.rfind("--pod", 0) == 0 && a[5] >= '1' &&
                   a[5] < '1' + ScopeState::kPods) {
            try {
                o.pod[a[5] - '1'] = ParsePod(value());
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument(a + ": " + e.what());
            }
        } else {
            throw std::invalid_argument("unknown option \"" + a + "\"");
        }
    }
    return o;
}

std::string SimUsage() {
    return "Usage: halvio-sim [options]\n"
           "Plays a Corvane Halvio oscilloscope over SCPI on a TCP socket.\n"
           "\n"
           "  --port N           listen on port N (default 5025; 0 picks a free port)\n"
           "  --bind ADDR        numeric address to listen on (default 127.0.0.1)\n"
           "  --model ID         model identifier (default " +
           ModelInfo::DefaultId() +
           ")\n"
           "  --serial TEXT      serial number in the identification\n"
           "  --idn TEXT         answer \"*IDN?\" with TEXT instead (as is, any form)\n"
           "  --vxi11            also serve VXI-11 (TCPIP::ADDR::INSTR); clients find it\n"
           "                     through port 111: rpcbind when it runs, else the\n"
           "                     simulator's own portmapper (needs root)\n"
           "  --vxi11-port N     VXI-11 channel port (default: a free one); implies --vxi11\n"
           "  --pty              also serve on a pseudo-terminal, as on a serial port; prints\n"
           "                     \"halvio-sim serial on /dev/pts/N\" (ASRL/dev/pts/N::INSTR);\n"
           "                     a fault that drops the connection pulls the cable, and a\n"
           "                     new line (a new path, printed again) takes its place\n"
           "  --pty-link PATH    keep a symbolic link at PATH to the current line, so the\n"
           "                     line keeps one name across pulled cables; implies --pty\n"
           "  --baud N           that line's speed (default 9600; 8N1, no flow control)\n"
           "  --paced            send no faster than the line would (N/10 bytes a second)\n"
           "Signals:\n"
           "  --chanN SIGNAL     input of channel N (1-4), e.g. sine:1kHz:2Vpp:0V:noise=0.01\n"
           "                     shapes sine, square, triangle, pulse, dc; then frequency,\n"
           "                     amplitude (Vpp, Vp), offset, and keys freq=, amp=, offset=,\n"
           "                     phase= (degrees), duty= (0..1), noise= (volts), seed=\n"
           "  --podN PATTERN     pattern of pod N (1-2): counter, walk, serial or uart (8N1\n"
           "                     on D0), with an optional \":<samples per step>\" (per bit\n"
           "                     for uart; pod 1 counter:1, pod 2 walk:8)\n"
           "Acquisition:\n"
           "  --acquire-ms N     a single acquisition (:SINGle) runs N ms, with bit 3 of\n"
           "                     :OPER? set meanwhile (default 0: it completes at once)\n"
           "  --acquire-phase-step DEG\n"
           "                     each acquisition moves every channel's phase by DEG, so\n"
           "                     consecutive records differ\n"
           "  --never-trigger    a single acquisition never completes\n"
           "  --status-form F    answer :OPER? as 8 (plain), +8 (signed) or 8\\r\\n (crlf)\n"
           "Faults:\n"
           "  --delay-ms N       wait N ms before every reply\n"
           "  --idn-delay-ms N   wait N ms before answering the identification\n"
           "  --drop-after N     close a connection when message N+1 arrives\n"
           "  --garbage          answer every query with meaningless bytes\n"
           "  --silent           never answer\n"
           "  --truncate-data    send half of each binary block, then close\n"
           "  --short-data       send waveform data one point short of its preamble\n"
           "  --lying-header M   data block headers declare twice the data sent; then\n"
           "                     close the connection (M = close) or go quiet (M = wait)\n"
           "  --cut-data         reset the connection in the middle of waveform data\n"
           "  --garbage-preamble answer the preamble query with meaningless bytes\n"
           "  --wrong-yincrement state a y increment 1.1 times too large in the preamble\n"
           "                     (the data and the measurements stay right)\n"
           "  --fault-source SRC the data and preamble faults above hit only the transfer\n"
           "                     of SRC (CHAN1-4, POD1-2, FUNC1); every source without it\n"
           "  --reset-screen     reset the connection in the middle of the screen image\n"
           "  --late-terminator-ms N\n"
           "                     send the line feed after each binary block N ms late\n"
           "  --indefinite-blocks\n"
           "                     send binary blocks as \"#0\" blocks, which run to the line\n"
           "                     feed (their data may hold line feeds of its own)\n"
           "  --measure-reply TEXT\n"
           "                     answer every measurement query with TEXT as is (such as\n"
           "                     +1.0E+99999)\n"
           "  --preamble-extra TEXT\n"
           "                     add an 11th field TEXT to the preamble reply (\"\": a\n"
           "                     trailing comma)\n"
           "  --help             show this text\n"
           "\n"
           "Prints \"halvio-sim listening on ADDR:PORT\" when ready; SIGINT or SIGTERM stop it.\n";
}

}  // namespace cvn::sim
