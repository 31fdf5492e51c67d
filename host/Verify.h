// Checking a capture's scaled data against the scope's own measurements of
// the same stopped acquisition. A wrong preamble, a wrong byte order or a
// probe factor the scaling ignores makes the samples say other values than
// the scope shows on its screen; this is where that shows up.
//
// Pure: the scope's replies come in as text, the rows go out; reading the
// scope is the bench's part (host/bench/BenchVerify.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Scaling.h"

namespace cvn::host {

class JsonWriter;

// The quick-measurement rows compared, by their row names, in order.
inline constexpr const char* kVerifiedRows[] = {"P2P", "Max", "Min", "Average", "Freq"};

// What the scope answered for one row ("P2P" ...) of one source.
struct ScopeReading {
    std::string row;
    std::string reply;  // as sent, "+2.40000E+00", "9.9E37"
};

enum class Agreement { Ok, Mismatch, Skipped, Failed };

struct VerifyRow {
    std::string source;    // "CH1", "FUNC"
    std::string quantity;  // "peak-to-peak", "maximum", ... "frequency"
    std::string unit;      // "V", "Hz"
    std::optional<double> ours;
    std::optional<double> scope;
    std::string scopeReply;
    double difference = 0;  // ours - scope, when both have a value
    double tolerance = 0;
    Agreement agreement = Agreement::Ok;
    std::string note;  // why skipped, failed or out of tolerance
};

// A measurement reply's number ("+1.00000000E-03", "+62500", " 1.2e3\n");
// nothing for the scope's "no result" (9.9E37: anything from 1E21 up, as
// the add-in reads it) and for text that is not one number.
std::optional<double> ReplyNumber(std::string_view reply);
// Half a unit of the reply's last digit, in the reply's unit: how far the
// scope's own rounding may be from the value ("+1.23E+00" gives 0.005).
// Nothing when the reply is not a number.
std::optional<double> ReplyPrecision(std::string_view reply);

// The data set's frequency from its rising (else falling) crossings of the
// middle level, with 10 % / 90 % hysteresis so noise makes no edges;
// nothing with fewer than two such edges.
std::optional<double> FrequencyOf(const DataSet& set);

// One row per verified quantity for an analog data set: ours from the
// samples, the scope's from its replies (a row it did not answer is
// skipped). Values agree within two y increments plus the reply's
// precision; a frequency within one sample period over the record
// (relative xIncrement / record duration) plus the reply's precision.
std::vector<VerifyRow> CompareWithScope(const DataSet& set,
                                        const std::vector<ScopeReading>& readings);

// No row mismatched or failed.
bool AllAgree(const std::vector<VerifyRow>& rows);
std::string AgreementText(Agreement a);  // "ok", "MISMATCH", "skipped", "FAILED"

// A table, one line a row, with a heading line.
std::string VerifyTable(const std::vector<VerifyRow>& rows);
// An array of row objects.
void WriteVerifyJson(JsonWriter& json, const std::vector<VerifyRow>& rows);

}  // namespace cvn::host
