// The measurement sequence behind the Measurement tab, without widgets: it
// takes the rows the user chose and the session to the scope, and gives back
// the texts to show. The dialog feeds it the check boxes and writes the
// result into its text boxes and source lists.
//
// The sequence leaves the scope stopped on purpose: every value shown comes
// from the same acquisition.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "io/IoSession.h"
#include "measure/MeasurementRows.h"
#include "support/Error.h"

namespace cvn {

// chosen[i] is row i of kMeasurementRows.
using MeasurementChoice = std::array<bool, kMeasurementRowCount>;

struct MeasurementOutcome {
    // The scope's measurement sources as the lists show them ("MATH" for
    // FUNC); empty when the sequence stopped before reading them.
    std::string source1;
    std::string source2;
    // Row i's text: empty for a row not chosen, "No edges", or the value
    // with prefix and unit ("+1.23450ms").
    std::array<std::string, kMeasurementRowCount> texts{};
    // Row i's value in the unit of the row; nothing for a row not chosen,
    // "No edges" or a reply whose number cannot be read whole.
    std::array<std::optional<double>, kMeasurementRowCount> values{};
    // Row i's reply as the scope sent it, line end removed: its digits say
    // how precisely the scope stated the value.
    std::array<std::string, kMeasurementRowCount> replies{};
    // Rows [0, rowsDone) have their final text; the rest were not reached.
    std::size_t rowsDone = 0;
    // Why the sequence stopped early; nothing when every row was done.
    std::optional<ErrorInfo> error;

    bool complete() const { return !error; }
};

class MeasurementRun {
public:
    // The pause after a single acquisition: the scope is not asked whether
    // it has finished.
    static constexpr std::chrono::milliseconds kNewAcquisitionWait{500};

    explicit MeasurementRun(io::IoSession& session) : session_(session) {}

    // The first list changed: ":MEASure:SOURce <s1>". Throws on I/O failure.
    void SelectSource(std::string_view listText1);
    // The second list changed: ":MEASure:SOURce <s1>,<s2>". Throws on I/O failure.
    void SelectSources(std::string_view listText1, std::string_view listText2);
    // ":SINGle" and the fixed pause (through ui().wait). Throws on I/O failure.
    void NewAcquisition();

    // ":STOP", the sources, ":MEASure:CLEar", then each chosen row's query in
    // table order. Never throws: a failure (no reply, a reply that is not a
    // number in "E" notation) stops the sequence and is described in the
    // outcome, with the rows done so far kept.
    MeasurementOutcome Measure(const MeasurementChoice& chosen);

private:
    std::string query(const std::string& command);

    io::IoSession& session_;
};

}  // namespace cvn
