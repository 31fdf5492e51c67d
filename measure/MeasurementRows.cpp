// The quick-measurement table and the source name mapping.
#include "measure/MeasurementRows.h"

namespace cvn {

using S = MeasurementSources;

const std::array<MeasurementRow, kMeasurementRowCount> kMeasurementRows{{
    {"DutyCycle", ":MEASure:DUTYcycle? ", S::One, "%"},
    {"Freq", ":MEASure:FREQuency? ", S::One, "Hz"},
    {"Period", ":MEASure:PERiod? ", S::One, "s"},
    {"RiseTime", ":MEASure:RISetime? ", S::One, "s"},
    {"FallTime", ":MEASure:FALLtime? ", S::One, "s"},
    {"PWidth", ":MEASure:PWIDth? ", S::One, "s"},
    {"NWidth", ":MEASure:NWIDth? ", S::One, "s"},
    {"TMax", ":MEASure:TMAX? ", S::One, "s"},
    {"TMin", ":MEASure:TMIN? ", S::One, "s"},
    {"Phase", ":MEASure:PHASe? ", S::TwoComma, "\u00b0"},
    {"VUpper", ":MEASure:VUPPer? ", S::One, "V"},
    {"Average", ":MEASure:VAVerage? DISPlay, ", S::One, "V"},
    {"Amplitude", ":MEASure:VAMPlitude? ", S::One, "V"},
    {"Base", ":MEASure:VBASe? ", S::One, "V"},
    {"Max", ":MEASure:VMAX? ", S::One, "V"},
    {"Min", ":MEASure:VMIN? ", S::One, "V"},
    {"P2P", ":MEASure:VPP? ", S::One, "V"},
    {"RMS", ":MEASure:VRMS? DISPlay, DC, ", S::One, "V"},
    {"Top", ":MEASure:VTOP? ", S::One, "V"},
    {"Preshoot", ":MEASure:PREShoot? ", S::One, "%"},
    {"Overshoot", ":MEASure:OVERshoot? ", S::One, "%"},
    {"VMiddle", ":MEASure:VMIDdle? ", S::One, "V"},
    {"VLower", ":MEASure:VLOWer? ", S::One, "V"},
    {"DeltaTime", ":MEASure:DELTatime? ", S::TwoCommaBlank, "s"},
}};

std::string MeasurementQuery(const MeasurementRow& row, std::string_view s1, std::string_view s2) {
    std::string q(row.query);
    q += s1;
    switch (row.sources) {
        case S::One:
            break;
        case S::TwoComma:
            q += ',';
            q += s2;
            break;
        case S::TwoCommaBlank:
            q += ", ";
            q += s2;
            break;
    }
    return q;
}

std::optional<std::size_t> MeasurementRowIndex(std::string_view name) {
    for (std::size_t i = 0; i < kMeasurementRows.size(); ++i)
        if (kMeasurementRows[i].name == name) return i;
    return std::nullopt;
}

std::string ScopeSourceName(std::string_view listText) {
    return listText == "MATH" ? std::string("FUNC") : std::string(listText);
}

std::string ListSourceName(std::string_view scopeName) {
    return scopeName == "FUNC" ? std::string("MATH") : std::string(scopeName);
}

}  // namespace cvn
