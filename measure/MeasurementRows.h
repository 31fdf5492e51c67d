// The 24 quick measurements as the scope is asked for them: row name (the
// suffix of the dialog's chkMea/txtMea controls), the query text before its
// sources, how the sources are appended, and the unit shown after the value.
// The table is in query order, which is the order the queries go out on the
// bus whatever order the boxes have on screen.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cvn {

inline constexpr std::size_t kMeasurementRowCount = 24;

enum class MeasurementSources {
    One,            // query + S1
    TwoComma,       // query + S1 + "," + S2
    TwoCommaBlank,  // query + S1 + ", " + S2
};

struct MeasurementRow {
    std::string_view name;   // "DutyCycle", "Freq", ...
    std::string_view query;  // ":MEASure:DUTYcycle? ", ending in the blank before S1
    MeasurementSources sources;
    std::string_view unit;  // UTF-8 ("°" for the phase)
};

extern const std::array<MeasurementRow, kMeasurementRowCount> kMeasurementRows;

// The exact query text for one row and the two sources as the scope names them.
std::string MeasurementQuery(const MeasurementRow& row, std::string_view s1, std::string_view s2);

// Index of the row with that name (exact spelling), or nothing.
std::optional<std::size_t> MeasurementRowIndex(std::string_view name);

// The source lists offer "MATH" for the scope's "FUNC"; nothing else changes.
std::string ScopeSourceName(std::string_view listText);
std::string ListSourceName(std::string_view scopeName);

}  // namespace cvn
