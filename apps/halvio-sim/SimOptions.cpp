// Command line of halvio-sim.
#include "apps/halvio-sim/SimOptions.h"

#include <cstdlib>
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
        } else if (a == "--delay-ms") {
            o.faults.delayMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--idn-delay-ms") {
            o.faults.idnDelayMs = static_cast<int>(ToNumber(a, value(), 0, 600000));
        } else if (a == "--drop-after") {
            o.faults.dropAfter = ToNumber(a, value(), 0, 1000000000);
        } else if (a == "--garbage") {
            o.faults.garbage = true;
        } else if (a == "--silent") {
            o.faults.silent = true;
        } else if (a == "--truncate-data") {
            o.faults.truncateData = true;
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
           "Faults:\n"
           "  --delay-ms N       wait N ms before every reply\n"
           "  --idn-delay-ms N   wait N ms before answering the identification\n"
           "  --drop-after N     close a connection when message N+1 arrives\n"
           "  --garbage          answer every query with meaningless bytes\n"
           "  --silent           never answer\n"
           "  --truncate-data    send half of each binary block, then close\n"
           "  --help             show this text\n"
           "\n"
           "Prints \"halvio-sim listening on ADDR:PORT\" when ready; SIGINT or SIGTERM stop it.\n";
}

}  // namespace cvn::sim
