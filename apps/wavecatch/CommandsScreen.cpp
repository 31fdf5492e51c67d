// screen: the scope's screen image, as CScope captures it for the host.
#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"

namespace cvn::host {

namespace {

constexpr const char* kScreenHelp =
    "usage: wavecatch screen [--address ADDR] [--invert] [--out FILE] [--json]\n"
    "Saves the scope's screen image. FILE ending in .bmp gets the bitmap exactly as\n"
    "the scope sent it; any other image type (.png, .jpg) is converted. Default:\n"
    "./screen-<date>-<time>.png. FILE '-' puts a PNG image on stdout (for | display);\n"
    "a link is written through, a device or pipe written directly.\n"
    "  --invert          the inverted screen colours\n"
    "  --address ADDR    the scope (default: the address stored by the last\n"
    "                    connection); --registry-key KEY another settings key\n"
    "  --json            {\"file\", \"width\", \"height\"} on stdout\n";

}  // namespace

int CmdScreen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args, BenchValueOptions({"--out"}), BenchFlagOptions({"--invert"}));
    if (p.has("--help")) return PrintHelp(out, kScreenHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    const bool toStdout = p.hasValue("--out") && p.value("--out") == "-";
    if (toStdout && p.has("--json"))
        throw UsageError("--json and --out - would both write to stdout");
    return RunBenchCommand(err, "screen", [&] {
        const std::string address = ResolveAddress(TargetOf(p));
        const std::string file = toStdout              ? std::string("-")
                                 : p.hasValue("--out") ? AbsolutePath(p.value("--out"))
                                                       : DefaultFileName("screen", ".png");
        const auto [width, height] = SaveScreen(address, p.has("--invert"), file);
        if (toStdout) {
            // The image is the output; what was written goes beside it.
            err << "wrote:       stdout (" << width << " x " << height << ")\n";
        } else if (p.has("--json")) {
            JsonWriter w;
            w.beginObject();
            w.key("file").value(file);
            w.key("width").value(int64_t{width});
            w.key("height").value(int64_t{height});
            w.endObject();
            out << w.text() << "\n";
        } else {
            out << "wrote:       " << file << " (" << width << " x " << height << ")\n";
        }
        return 0;
    });
}

}  // namespace cvn::host
