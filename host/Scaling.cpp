// Scaling of raw waveform data by preamble blocks.
#include "host/Scaling.h"

#include <algorithm>

#include "automation/Array.h"

namespace cvn::host {

using automation::Variant;

PreambleBlock PreambleBlock::FromNumbers(const std::vector<double>& n, size_t offset) {
    PreambleBlock b;
    auto at = [&](size_t i) { return offset + i < n.size() ? n[offset + i] : 0.0; };
    b.format = at(0);
    b.type = at(1);
    b.points = at(2);
    b.count = at(3);
    b.xIncrement = at(4);
    b.xOrigin = at(5);
    b.xReference = at(6);
    b.yIncrement = at(7);
    b.yOrigin = at(8);
    b.yReference = at(9);
    b.sourceCode = static_cast<int32_t>(at(10));
    return b;
}

std::vector<double> PreambleBlock::ToNumbers() const {
    return {format,
            type,
            points,
            count,
            xIncrement,
            xOrigin,
            xReference,
            yIncrement,
            yOrigin,
            yReference,
            static_cast<double>(sourceCode)};
}

double PreambleBlock::Time(size_t index) const {
    return (static_cast<double>(index) - xReference) * xIncrement + xOrigin;
}

double PreambleBlock::Value(double raw) const {
    return (raw - yReference) * yIncrement + yOrigin;
}

SourceKind KindOfCode(int32_t code) {
    if (code >= 1 && code <= 5) return SourceKind::Analog;
    if (code == 8 || code == 16) return SourceKind::Pod;
    if ((code >= 100 && code <= 107) || (code >= 200 && code <= 207)) return SourceKind::Bit;
    return SourceKind::Unknown;
}

std::string SourceName(int32_t code) {
    if (code >= 1 && code <= 4) return "CH" + std::to_string(code);
    if (code == 5) return "FUNC";
    if (code == 8) return "POD1";
    if (code == 16) return "POD2";
    if (code >= 100 && code <= 107) return "D" + std::to_string(code - 100);
    if (code >= 200 && code <= 207) return "D" + std::to_string(code - 200 + 8);
    return "SRC" + std::to_string(code);
}

int LogicLines(int32_t code) {
    switch (KindOfCode(code)) {
        case SourceKind::Pod:
            return 8;
        case SourceKind::Bit:
            return 1;
        default:
            return 0;
    }
}

std::vector<double> NumbersOf(const Variant& value) {
    std::vector<double> out;
    if (!value.isArray()) return out;
    const automation::Array& a = value.array();
    out.reserve(a.count());
    switch (a.elementType()) {
        case automation::VarType::Byte:
            for (uint8_t v : a.view<uint8_t>()) out.push_back(v);
            break;
        case automation::VarType::Integer:
            for (int16_t v : a.view<int16_t>()) out.push_back(v);
            break;
        case automation::VarType::Long:
            for (int32_t v : a.view<int32_t>()) out.push_back(v);
            break;
        case automation::VarType::Double:
            for (double v : a.view<double>()) out.push_back(v);
            break;
        default:
            // Variant elements: an unfilled result holds one Empty element.
            for (const Variant& v : a.view<Variant>())
                if (!v.isEmpty() && !v.isArray() && !v.isObject()) out.push_back(v.toDouble());
            break;
    }
    return out;
}

std::vector<DataSet> SplitDataSets(const std::vector<double>& preamble, const Variant& yData,
                                   std::string& warning) {
    warning.clear();
    std::vector<DataSet> sets;
    // A reset result is one element 0: no blocks at all.
    if (preamble.size() < kPreambleSize) return sets;
    // The data sets are windows on the add-in's array; only an array of
    // variants (not what the add-in delivers) is read into doubles first.
    automation::Variant numbers = yData;
    if (yData.isArray() && yData.array().elementType() == automation::VarType::Variant) {
        const std::vector<double> read = NumbersOf(yData);
        numbers = Variant(DataVector<double>(read.begin(), read.end()));
    }
    const size_t total = numbers.isArray() ? numbers.array().count() : 0;
    const size_t blocks = preamble.size() / kPreambleSize;
    size_t expected = 0;
    size_t next = 0;
    for (size_t b = 0; b < blocks; ++b) {
        DataSet s;
        s.block = PreambleBlock::FromNumbers(preamble, b * kPreambleSize);
        s.name = SourceName(s.block.sourceCode);
        const size_t points = s.block.points > 0 ? static_cast<size_t>(s.block.points) : 0;
        expected += points;
        const size_t take = std::min(points, total - next);
        s.raw = RawSamples(numbers, next, take);
        next += take;
        sets.push_back(std::move(s));
    }
    if (expected != total)
        warning = "the preambles announce " + std::to_string(expected) +
                  " points in all, the raw data holds " + std::to_string(total);
    return sets;
}

}  // namespace cvn::host
