// measure: the Measurement tab's sequence from the command line.
#include <iomanip>

#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "support/Text.h"

namespace cvn::host {

namespace {

constexpr const char* kMeasureHelp =
    "usage: wavecatch measure [--address ADDR] [--source S1[,S2]] [--new]\n"
    "                         [--only NAME,...] [--csv FILE] [--json]\n"
    "Reads the scope's quick measurements as the capture dialog's Measurement tab\n"
    "does: stops the scope, asks its measurement sources, and queries each\n"
    "measurement, shown with a metric prefix and unit (+1.00000kHz) or \"No edges\".\n"
    "  --source S1[,S2]  choose these sources first: CHAN1..CHAN4, DIG0..DIG15 (S1\n"
    "                    only) or MATH; a source the scope refuses (one it does not\n"
    "                    show) fails the command instead of measuring another\n"
    "  --new             send :SINGle and wait 500 ms first (\"New Acquisition\");\n"
    "                    otherwise the current acquisition (\"Current Acquisition\")\n"
    "  --only NAME,...   only these, by the tab's names (\"Duty Cycle\", \"RMS\",\n"
    "                    \"Rise Time\") or row names (Freq, P2P), ignoring case and\n"
    "                    blanks; default: all 24 the source allows\n"
    "  --csv FILE        also write the tab's \"Save Data\" file (its lines in the\n"
    "                    order of the tab's boxes, Amplitude first)\n"
    "  --json            {\"source1\", \"source2\", \"measurements\": [{\"name\", \"text\",\n"
    "                    \"value\", \"unit\"}]}, value in SI base units (null: no\n"
    "                    result, or a reply whose number cannot be read whole)\n"
    "  --address ADDR    the scope (default: the address stored by the last\n"
    "                    connection); --registry-key KEY another settings key\n"
    "The scope is left stopped, so every value comes from one acquisition.\n";

std::string json(const MeasureResult& r, const std::string& csv) {
    JsonWriter w;
    w.beginObject();
    w.key("source1").value(r.source1);
    w.key("source2").value(r.source2);
    w.key("measurements").beginArray();
    for (const MeasureRow& row : r.rows) {
        w.beginObject();
        w.key("name").value(row.caption);
        w.key("row").value(row.name);
        w.key("text").value(row.text);
        w.key("value");
        if (row.value)
            w.value(*row.value);
        else
            w.raw("null");
        w.key("unit").value(row.unit);
        w.endObject();
    }
    w.endArray();
    if (!csv.empty()) w.key("csv").value(csv);
    w.endObject();
    return w.text() + "\n";
}

}  // namespace

int CmdMeasure(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, BenchValueOptions({"--source", "--only", "--csv"}),
                                   BenchFlagOptions({"--new"}));
    if (p.has("--help")) return PrintHelp(out, kMeasureHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    MeasureRequest req;
    if (p.hasValue("--source")) {
        const auto sources = SplitList(p.value("--source"));
        if (sources.empty() || sources.size() > 2)
            throw UsageError("--source takes one or two sources, e.g. CHAN1 or CHAN1,CHAN2");
        for (size_t i = 0; i < sources.size(); ++i)
            if (!MeasurementSource(sources[i], i == 1))
                throw UsageError("'" + sources[i] + "' is not a measurement source" +
                                 (i == 1 ? " for S2 (CHAN1..CHAN4, MATH)"
                                         : " (CHAN1..CHAN4, DIG0..DIG15, MATH)"));
        req.source1 = sources[0];
        if (sources.size() == 2) req.source2 = sources[1];
    }
    req.newAcquisition = p.has("--new");
    if (p.hasValue("--only")) {
        req.only = SplitList(p.value("--only"));
        for (const std::string& name : req.only)
            if (!FindMeasurement(name))
                throw UsageError("no measurement is called '" + name +
                                 "' (see wavecatch measure --help)");
    }
    return RunBenchCommand(err, "measure", [&] {
        OpenScope(TargetOf(p));
        const MeasureResult r = RunMeasurements(req);
        for (const std::string& name : r.notAvailable)
            err << "wavecatch: measure: " << name << " is not available for " << r.source1 << "\n";
        std::string csv;
        if (p.hasValue("--csv")) {
            csv = AbsolutePath(p.value("--csv"));
            WriteMeasurementFile(csv, r);
        }
        if (p.has("--json")) {
            out << json(r, csv);
        } else {
            out << "sources:     " << TerminalText(r.source1) << ", " << TerminalText(r.source2)
                << "\n";
            for (const MeasureRow& row : r.rows)
                out << std::left << std::setw(13) << row.caption << TerminalText(row.text) << "\n";
            if (!csv.empty()) out << "wrote:       " << csv << "\n";
        }
        return 0;
    });
}

}  // namespace cvn::host
