// setup save / setup restore: the Scope Settings tab's two actions.
#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "setupfile/CSetupFile.h"

namespace cvn::host {

namespace {

constexpr const char* kSetupHelp =
    "usage: wavecatch setup save FILE [--address ADDR] [--json]\n"
    "       wavecatch setup restore FILE [--address ADDR] [--json]\n"
    "save reads the scope's complete setup and its identification and writes them\n"
    "to FILE as a setup file (.scp), as \"Get setting from scope and save to file\"\n"
    "does. restore sends the setup kept in FILE back, as \"Open file and send\n"
    "settings to scope\" does, after the same checks: a file that is not a setup\n"
    "file (\"Not a compatible file\") or holds the setup of a model the add-in does\n"
    "not support (\"Not a compatible instrument\") is refused and nothing is sent.\n"
    "A name without .scp is reported (\"Incorrect file type\"); its content decides.\n"
    "  --address ADDR    the scope (default: the address stored by the last\n"
    "                    connection); --registry-key KEY another settings key\n"
    "  --json            {\"action\", \"file\", \"model\", \"bytes\"} on stdout\n";

}  // namespace

int CmdSetup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, BenchValueOptions({}), BenchFlagOptions({}));
    if (p.has("--help")) return PrintHelp(out, kSetupHelp);
    if (p.operands.size() != 2 || (p.operands[0] != "save" && p.operands[0] != "restore"))
        throw UsageError("needs save FILE or restore FILE");
    const bool save = p.operands[0] == "save";
    const std::string file = AbsolutePath(p.operands[1]);
    return RunBenchCommand(err, "setup " + p.operands[0], [&] {
        OpenScope(TargetOf(p));
        if (save)
            SaveSetup(file);
        else
            RestoreSetup(file);
        CSetupFile record;
        record.ReadFile(file);
        const size_t bytes = record.LearnString().size();
        if (p.has("--json")) {
            JsonWriter w;
            w.beginObject();
            w.key("action").value(save ? "save" : "restore");
            w.key("file").value(file);
            w.key("model").value(record.model());
            w.key("bytes").value(bytes);
            w.endObject();
            out << w.text() << "\n";
        } else if (save) {
            out << "wrote:       " << file << " (" << record.model() << ", " << bytes
                << " setup bytes)\n";
        } else {
            out << "sent:        " << file << " (" << record.model() << ", " << bytes
                << " setup bytes)\n";
        }
        return 0;
    });
}

}  // namespace cvn::host
