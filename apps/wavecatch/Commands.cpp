// Command selection, help texts and the mapping of failures to exit codes.
#include "apps/wavecatch/Commands.h"

#include <map>

#include "apps/wavecatch/CommandLine.h"
#include "host/ReplyText.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

constexpr const char* kUsage =
    "usage: wavecatch COMMAND [ARGS...]   (wavecatch COMMAND --help for details)\n"
    "\n"
    "  demo        capture from the built-in simulator and save the results\n"
    "  capture     fetch data from a scope through the add-in and save it\n"
    "  scope       drive a scope through the add-in's CScope object\n"
    "  measure     read the scope's quick measurements (the Measurement tab)\n"
    "  setup       save the scope's setup to a file, or send a file back\n"
    "  screen      save the scope's screen image as PNG or BMP\n"
    "  show        summarise a capture.h5: scope, time, sources, measurements\n"
    "  find        look for instruments on USB and given hosts\n"
    "  scpi        send SCPI commands and show the replies (a prompt without any)\n"
    "  get         read a property of an add-in object\n"
    "  let         write a property of an add-in object\n"
    "  call        call a method of an add-in object\n"
    "  info        describe the add-in module, its classes and members\n"
    "  register    register the add-in's classes for this user\n"
    "  unregister  remove the add-in's registration\n"
    "  doctor      check the module, registration, settings and the scope's address\n"
    "\n"
    "Exit codes: 0 done, 1 failed or cancelled, 2 wrong command line, 3 module\n"
    "or class not available, 4 no such member.\n";

using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"register", CmdRegister}, {"unregister", CmdUnregister},
        {"info", CmdInfo},         {"scope", CmdScope},
        {"get", CmdGet},           {"let", CmdLet},
        {"call", CmdCall},         {"capture", CmdCapture},
        {"demo", CmdDemo},         {"doctor", CmdDoctor},
        {"measure", CmdMeasure},   {"setup", CmdSetup},
        {"screen", CmdScreen},     {"find", CmdFind},
        {"scpi", CmdScpi},         {"show", CmdShow}};
    return table;
}

}  // namespace

int RunWavecatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << kUsage;
        return 0;
    }
    auto it = commands().find(args[0]);
    if (it == commands().end()) {
        err << "wavecatch: unknown command '" << args[0] << "'\n" << kUsage;
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        return it->second(rest, out, err);
    } catch (const UsageError& e) {
        err << "wavecatch " << args[0] << ": " << e.what() << " (see wavecatch " << args[0]
            << " --help)\n";
        return kExitUsage;
    } catch (const Error& e) {
        // 429: the loader could not find or create the object.
        err << "wavecatch: error " << e.number() << ": " << TerminalText(e.description());
        if (!e.source().empty() && e.source() != "wavecatch") err << " (" << e.source() << ")";
        err << "\n";
        if (e.number() == 429) return kExitNoModule;
        if (e.number() == 438) return kExitNoMember;
        return kExitFailed;
    } catch (const std::exception& e) {
        err << "wavecatch: " << TerminalText(e.what()) << "\n";
        return kExitFailed;
    }
}

}  // namespace cvn::host
