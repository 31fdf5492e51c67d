// setup save / setup restore: the Scope Settings tab's two actions.
#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/bench/CaptureExtras.h"
#include "host/formats/Hdf5Reader.h"
#include "setupfile/CSetupFile.h"

namespace cvn::host {

namespace {

constexpr const char* kSetupHelp =
    "usage: wavecatch setup save FILE [--address ADDR] [--json]\n"
    "       wavecatch setup restore FILE [--address ADDR] [--json]\n"
    "       wavecatch setup restore --from CAPTURE.h5 [--address ADDR] [--json]\n"
    "save reads the scope's complete setup and its identification and writes them\n"
    "to FILE as a setup file (.scp), as \"Get setting from scope and save to file\"\n"
    "does. restore sends the setup kept in FILE back, as \"Open file and send\n"
    "settings to scope\" does, after the same checks: a file that is not a setup\n"
    "file (\"Not a compatible file\") or holds the setup of a model the add-in does\n"
    "not support (\"Not a compatible instrument\") is refused and nothing is sent.\n"
    "A name without .scp is reported (\"Incorrect file type\"); its content decides.\n"
    "--from sends the setup a capture.h5 keeps (capture --format h5) through the\n"
    "same checks; a capture.h5 without one is refused and nothing is sent.\n"
    "  --address ADDR    the scope (default: the address stored by the last\n"
    "                    connection); --registry-key KEY another settings key\n"
    "  --json            {\"action\", \"file\", \"model\", \"bytes\"} on stdout\n";

}  // namespace

int CmdSetup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, BenchValueOptions({"--from"}), BenchFlagOptions({}));
    if (p.has("--help")) return PrintHelp(out, kSetupHelp);
    const bool from = p.hasValue("--from");
    if (from && (p.operands.size() != 1 || p.operands[0] != "restore"))
        throw UsageError("--from CAPTURE.h5 goes with restore and no FILE");
    if (!from &&
        (p.operands.size() != 2 || (p.operands[0] != "save" && p.operands[0] != "restore")))
        throw UsageError("needs save FILE, restore FILE or restore --from CAPTURE.h5");
    const bool save = p.operands[0] == "save";
    const std::string file = AbsolutePath(from ? p.value("--from") : p.operands[1]);
    return RunBenchCommand(err, "setup " + p.operands[0], [&] {
        // The capture's setup is checked before the scope is asked anything.
        const std::string kept = from ? CaptureSetupFile(file) : std::string();
        OpenScope(TargetOf(p));
        CSetupFile record;
        if (save) {
            SaveSetup(file);
            record.ReadFile(file);
        } else if (from) {
            RestoreSetupBytes(kept, file);
            record = CSetupFile::parse(
                std::span(reinterpret_cast<const uint8_t*>(kept.data()), kept.size()), file);
        } else {
            RestoreSetup(file);
            record.ReadFile(file);
        }
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
