// The bench tools' measurements and setup files: the Measurement tab's
// sequence and the Scope Settings tab's actions on the shared session.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "apps/host/Bench.h"
#include "apps/host/ConsoleUi.h"
#include "dialog/CaptureProfile.h"
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

std::optional<double> MeasurementValue(const std::string& text, const std::string& unit) {
    if (text.empty() || text == kNoEdges) return std::nullopt;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double number = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    std::string rest(end);
    if (rest.size() < unit.size() ||
        rest.compare(rest.size() - unit.size(), unit.size(), unit) != 0)
        return std::nullopt;
    rest.resize(rest.size() - unit.size());
    static const std::pair<const char*, int> prefixes[] = {
        {"", 0}, {"G", 9}, {"M", 6}, {"k", 3}, {"m", -3}, {"u", -6}, {"n", -9}, {"p", -12}};
    // Read once more with the prefix as an exponent, so 0.294082m is the
    // double nearest 0.000294082, not a product with a rounding error.
    for (const auto& [prefix, exponent] : prefixes) {
        if (rest != prefix) continue;
        if (exponent == 0) return number;
        const std::string scaled(begin, static_cast<size_t>(end - begin));
        if (scaled.find_first_of("eE") != std::string::npos)
            return number * std::pow(10.0, exponent);
        return std::strtod((scaled + "e" + std::to_string(exponent)).c_str(), nullptr);
    }
    return std::nullopt;
}

MeasureResult RunMeasurements(const MeasureRequest& request) {
    MeasurementRun run(session());
    if (request.source1 && request.source2)
        run.SelectSources(*request.source1, *request.source2);
    else if (request.source1)
        run.SelectSource(*request.source1);

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

    if (request.newAcquisition) run.NewAcquisition();
    const MeasurementOutcome outcome = run.Measure(chosen);
    result.source1 = outcome.source1;
    result.source2 = outcome.source2;
    if (outcome.error)
        fail("the scope's measurements stopped after " + std::to_string(outcome.rowsDone) +
             " of 24 rows: " + outcome.error->description);
    for (size_t i = 0; i < kMeasurementRows.size(); ++i) {
        if (!chosen[i]) continue;
        MeasureRow row;
        row.name = kMeasurementRows[i].name;
        row.caption = caption(row.name);
        row.text = outcome.texts[i];
        row.unit = kMeasurementRows[i].unit;
        row.value = MeasurementValue(row.text, row.unit);
        result.rows.push_back(std::move(row));
    }
    return result;
}

void WriteMeasurementFile(const std::string& path, const MeasureResult& result) {
    std::vector<MeasurementCsvLine> lines;
    for (const MeasureRow& r : result.rows) lines.push_back({r.name, r.text});
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
