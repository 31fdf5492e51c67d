// The bench tools' measurements and setup files: the Measurement tab's
// sequence and the Scope Settings tab's actions on the shared session.
#include <cctype>
#include <tuple>

#include "dialog/CaptureProfile.h"
#include "host/ConsoleUi.h"
#include "host/bench/Bench.h"
#include "io/ReplyConvert.h"
#include "measure/MeasurementCsv.h"
#include "measure/MeasurementRows.h"
#include "measure/MeasurementRun.h"
#include "measure/SIPrefix.h"
#include "scope/Connection.h"
#include "setupfile/CSetupFile.h"
#include "setupfile/ScopeSettingsActions.h"
#include "support/Error.h"
#include "support/Text.h"

namespace cvn::host {

namespace {

[[noreturn]] void fail(const std::string& why) {
    throw Error(kBenchFailed, why, "wavecatch");
}

io::IoSession& session() {
    if (!gSession) fail("no connection to the scope");
    return *gSession;
}

// Letters and signs only, folded: "Duty Cycle" and "dutycycle" are one name.
std::string folded(const std::string& name) {
    std::string f;
    for (char c : name)
        if (c != ' ' && c != '\t')
            f += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return f;
}

std::string caption(std::string_view rowName) {
    for (int i = 0; i < kMeasurementCount; ++i)
        if (rowName == kMeasurementNames[static_cast<size_t>(i)])
            return kMeasurementCaptions[static_cast<size_t>(i)];
    return std::string(rowName);
}

std::string query(const std::string& command) {
    session().Output(command);
    return session().EnterText();
}

// The column the Measurement tab offers for the scope's current source:
// what UpdateMeasurementChoices asks before every sequence.
MeasurementColumn currentColumn() {
    const auto fields = io::splitFields(query(":MEASure:SOURce?"));
    bool fftOn = false;
    for (int k = 1; k <= 4; ++k)
        if (ContainsIgnoringCase(query(":FUNCtion" + std::to_string(k) + "?"), "FFT")) fftOn = true;
    const std::string first =
        fields.empty() ? std::string() : std::string(io::trimReply(fields[0]));
    return ChooseMeasurementColumn(first, fftOn);
}

// A message box the setup routines showed, as the reason of a refusal.
std::string shownSince(size_t before) {
    auto* console = dynamic_cast<ConsoleUi*>(&ui());
    if (!console || console->messages().size() <= before) return {};
    std::string text;
    for (size_t i = before; i < console->messages().size(); ++i)
        text += (text.empty() ? "" : "; ") + console->messages()[i];
    return text;
}

size_t shownCount() {
    auto* console = dynamic_cast<ConsoleUi*>(&ui());
    return console ? console->messages().size() : 0;
}

}  // namespace

std::optional<size_t> FindMeasurement(const std::string& name) {
    const std::string want = folded(name);
    for (size_t i = 0; i < kMeasurementRows.size(); ++i) {
        const std::string_view row = kMeasurementRows[i].name;
        if (want == folded(std::string(row)) || want == folded(caption(row))) return i;
    }
    // The tab's caption misspells it; the right spelling is meant too.
    if (want == "frequency") return MeasurementRowIndex("Freq");
    return std::nullopt;
}

std::optional<std::string> MeasurementSource(const std::string& name, bool second) {
    std::string upper;
    for (char c : name)
        if (c != ' ' && c != '\t')
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "MATH" || upper == "FUNC") return std::string("MATH");
    const auto numbered = [&](std::string_view prefix, int last) -> std::optional<std::string> {
        if (upper.rfind(prefix, 0) != 0) return std::nullopt;
        const std::string digits = upper.substr(prefix.size());
        if (digits.empty() || digits.size() > 2 ||
            digits.find_first_not_of("0123456789") != std::string::npos ||
            (digits.size() == 2 && digits[0] == '0'))
            return std::nullopt;
        const int n = std::stoi(digits);
        if (n > last || (prefix == "CHAN" && n < 1)) return std::nullopt;
        return std::string(prefix) + digits;
    };
    if (auto chan = numbered("CHAN", 4)) return chan;
    // The second list offers no logic bits.
    if (!second)
        if (auto bit = numbered("DIG", 15)) return bit;
    return std::nullopt;
}

MeasureResult RunMeasurements(const MeasureRequest& request) {
    std::optional<std::string> source1, source2;
    for (const auto& [given, second, named] :
         {std::tuple{&request.source1, false, &source1}, {&request.source2, true, &source2}}) {
        if (!*given) continue;
        *named = MeasurementSource(**given, second);
        if (!*named)
            fail("'" + **given + "' is not a measurement source (CHAN1..CHAN4, DIG0..DIG15, MATH)");
    }
    MeasurementRun run(session());
    if (source1 && source2)
        run.SelectSources(*source1, *source2);
    else if (source1)
        run.SelectSource(*source1);

    // "New Acquisition" acquires first; the tab then runs "Current
    // Acquisition", which begins by asking the source's measurements.
    if (request.newAcquisition) run.NewAcquisition();
    const MeasurementColumn column = currentColumn();
    MeasureResult result;
    MeasurementChoice chosen{};
    std::vector<bool> asked(kMeasurementRows.size(), request.only.empty());
    for (const std::string& name : request.only) {
        const auto index = FindMeasurement(name);
        if (!index) fail("no measurement is called '" + name + "'");
        asked[*index] = true;
    }
    for (size_t i = 0; i < kMeasurementRows.size(); ++i) {
        if (!asked[i]) continue;
        if (MeasurementAvailable(kMeasurementRows[i].name, column))
            chosen[i] = true;
        else if (!request.only.empty())
            result.notAvailable.push_back(caption(kMeasurementRows[i].name));
    }

    const MeasurementOutcome outcome = run.Measure(chosen);
    result.source1 = outcome.source1;
    result.source2 = outcome.source2;
    if (outcome.error)
        fail("the scope's measurements stopped after " + std::to_string(outcome.rowsDone) +
             " of 24 rows: " + outcome.error->description);
    // A scope refuses a source it does not show and keeps measuring the one
    // it had: those values are not the asked source's.
    const auto measured = MeasurementSource(std::string(io::trimReply(outcome.source1)), false);
    if (source1 && source1 != measured)
        fail("the scope measured " + std::string(io::trimReply(outcome.source1)) + ", not " +
             *source1 + " (it refused " + *source1 + ": does it have and show that source?)");
    for (size_t i = 0; i < kMeasurementRows.size(); ++i) {
        if (!chosen[i]) continue;
        MeasureRow row;
        row.name = kMeasurementRows[i].name;
        row.caption = caption(row.name);
        row.text = outcome.texts[i];
        row.unit = kMeasurementRows[i].unit;
        row.value = outcome.values[i];
        row.reply = outcome.replies[i];
        result.rows.push_back(std::move(row));
    }
    return result;
}

void WriteMeasurementFile(const std::string& path, const MeasureResult& result) {
    // The tab writes its ticked boxes in their order on the form, not in
    // the order the scope was asked.
    std::vector<MeasurementCsvLine> lines;
    for (const char* name : kMeasurementNames)
        for (const MeasureRow& r : result.rows)
            if (r.name == name) lines.push_back({r.name, r.text});
    WriteMeasurementCsv(path, lines);
}

void SaveSetup(const std::string& path) {
    session();
    const size_t before = shownCount();
    SaveLearnString(path);
    if (const std::string shown = shownSince(before); !shown.empty()) fail(shown);
}

void RestoreSetup(const std::string& path) {
    // The extension check of the open dialog: told, but the content decides.
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext != ".SCP") {
        MessageBoxRequest box;
        box.text = "Incorrect file type";
        box.caption = "Corvane Wavecatch";
        box.icon = MsgIcon::Critical;
        ui().messageBox(box);
    }
    const size_t afterExtension = shownCount();
    if (!SendSetupFile(path)) {
        const std::string shown = shownSince(afterExtension);
        fail(shown.empty() ? "the setup was not sent" : shown + "; nothing was sent");
    }
}

}  // namespace cvn::host
