// Turning the add-in's raw results into physical values: one preamble block
// per data set, the flat raw array cut into its data sets, and the source
// codes named. The add-in never scales; this is the one place the host does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "automation/Variant.h"
#include "host/RawSamples.h"
#include "host/TransferProgress.h"

namespace cvn::host {

inline constexpr size_t kPreambleSize = 11;

// One 11-number block as the add-in delivers it.
struct PreambleBlock {
    double format = 0;
    double type = 0;
    double points = 0;
    double count = 0;
    double xIncrement = 0;
    double xOrigin = 0;
    double xReference = 0;
    double yIncrement = 0;
    double yOrigin = 0;
    double yReference = 0;
    int32_t sourceCode = 0;

    // Reads numbers[offset] .. numbers[offset + 10].
    static PreambleBlock FromNumbers(const std::vector<double>& numbers, size_t offset);
    std::vector<double> ToNumbers() const;

    double Time(size_t index) const;
    double Value(double raw) const;
};

enum class SourceKind { Analog, Pod, Bit, Unknown };

SourceKind KindOfCode(int32_t code);
// "CH1".."CH4", "FUNC", "POD1", "POD2", "D0".."D15", else "SRC<code>".
std::string SourceName(int32_t code);
// For a pod or bit lane: how many logic lines the raw values carry.
int LogicLines(int32_t code);

// One data set: its block, raw values (a view of the add-in's array) and
// the block's scaled view of them.
struct DataSet {
    PreambleBlock block;
    RawSamples raw;
    std::string name;

    SourceKind kind() const { return KindOfCode(block.sourceCode); }
    double Time(size_t i) const { return block.Time(i); }
    double Value(size_t i) const { return block.Value(raw[i]); }
};

// Cuts the flat YData array into one data set per block, each as long as its
// block's point count. When the totals disagree (the add-in warns about a
// short transfer but keeps the data), the last sets get what is left and
// `warning` says so.
std::vector<DataSet> SplitDataSets(const std::vector<double>& preamble,
                                   const automation::Variant& yData, std::string& warning);

// A data set the host does not hand on, because its data may be another
// source's: the add-in appends a failed source's block and data as they
// stand after the failure, which is the previous source's data.
struct FailedSet {
    std::string name;  // "CH2", "D3"
    int32_t code = 0;
    std::string why;   // "transfer failed (Error retreiving scope data.)"
    size_t block = 0;  // its place among the add-in's blocks
};

struct CheckedSets {
    std::vector<DataSet> sets;      // each certainly its source's data
    std::vector<FailedSet> failed;  // in the add-in's order
    std::string warning;            // point counts that differ from the preamble's
};

// Cuts YData by what really arrived for each source: the capture's block
// transfers (null when the module reports none) say which source's block
// came whole and how many bytes it held; a source without one kept the
// data of the read before it. A set whose source cannot be told for
// certain (the lengths do not add up, a source read twice with a failure
// among the reads, a pod set that holds more than bytes) fails, and so
// does one with no points. `failureText` is the add-in's message for a
// failed transfer.
CheckedSets CheckDataSets(const std::vector<double>& preamble, const automation::Variant& yData,
                          const std::vector<BlockTransfer>* transfers,
                          const std::string& failureText);

// The numbers of a Variant holding an array (of any numeric element type),
// or nothing for Empty.
std::vector<double> NumbersOf(const automation::Variant& value);

}  // namespace cvn::host
