// The command table, the usage generated from it, and the mapping of
// failures to exit codes.
#include "apps/wavecatch/Commands.h"

#include <algorithm>

#include "apps/wavecatch/CommandLine.h"
#include "host/ReplyText.h"
#include "support/Error.h"

namespace cvn::host {

namespace {

using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

// One row per command, in the order the usage lists them: a new command is
// its function and one row here.
struct CommandRow {
    const char* name;
    const char* summary;
    Command run;
};

constexpr CommandRow kCommands[] = {
    {"demo", "capture from the built-in simulator and save the results", CmdDemo},
    {"capture", "fetch data from a scope through the add-in and save it", CmdCapture},
    {"record", "record acquisitions unattended into one HDF5 file or sr sessions", CmdRecord},
    {"scope", "drive a scope through the add-in's CScope object", CmdScope},
    {"measure", "read the scope's quick measurements (the Measurement tab)", CmdMeasure},
    {"setup", "save the scope's setup to a file, or send a file back", CmdSetup},
    {"screen", "save the scope's screen image as PNG or BMP", CmdScreen},
    {"show", "summarise a capture.h5: scope, time, sources, measurements", CmdShow},
    {"find", "look for instruments on USB and given hosts", CmdFind},
    {"scpi", "send SCPI commands and show the replies (a prompt without any)", CmdScpi},
    {"get", "read a property of an add-in object", CmdGet},
    {"let", "write a property of an add-in object", CmdLet},
    {"call", "call a method of an add-in object", CmdCall},
    {"info", "describe the add-in module, its classes and members", CmdInfo},
    {"register", "register the add-in's classes for this user", CmdRegister},
    {"unregister", "remove the add-in's registration", CmdUnregister},
    {"doctor", "check the module, registration, settings and the scope's address", CmdDoctor},
};

const std::string& usage() {
    static const std::string text = [] {
        std::string t =
            "usage: wavecatch COMMAND [ARGS...]   (wavecatch COMMAND --help for details)\n\n";
        for (const CommandRow& row : kCommands) {
            std::string name = row.name;
            name.resize(std::max<size_t>(name.size() + 1, 12), ' ');
            t += "  " + name + row.summary + "\n";
        }
        return t +
               "\nExit codes: 0 done, 1 failed or cancelled, 2 wrong command line, 3 module\n"
               "or class not available, 4 no such member.\n";
    }();
    return text;
}

const CommandRow* findCommand(const std::string& name) {
    for (const CommandRow& row : kCommands)
        if (name == row.name) return &row;
    return nullptr;
}

}  // namespace

int RunWavecatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << usage();
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << usage();
        return 0;
    }
    const CommandRow* command = findCommand(args[0]);
    if (!command) {
        err << "wavecatch: unknown command '" << args[0] << "'\n" << usage();
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        return command->run(rest, out, err);
    } catch (const UsageError& e) {
        err << "wavecatch " << args[0] << ": " << e.what() << " (see wavecatch " << args[0]
            << " --help)\n";
        return kExitUsage;
    } catch (const Error& e) {
        err << "wavecatch: error " << e.number() << ": " << TerminalText(e.description());
        if (!e.source().empty() && e.source() != "wavecatch") err << " (" << e.source() << ")";
        err << "\n";
        if (e.number() == kCannotCreateObject) return kExitNoModule;
        if (e.number() == kNoSuchMember) return kExitNoMember;
        return kExitFailed;
    } catch (const std::exception& e) {
        err << "wavecatch: " << TerminalText(e.what()) << "\n";
        return kExitFailed;
    }
}

}  // namespace cvn::host
