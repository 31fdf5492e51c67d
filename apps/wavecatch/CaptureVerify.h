// capture --verify: the scope's own measurements of the captured
// acquisition, compared with the data, shown with the capture's summary.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/Capture.h"
#include "host/Verify.h"
#include "host/bench/Bench.h"

namespace cvn::host {

inline constexpr const char* kVerifyHelp =
    "--verify reads the scope's own peak-to-peak, maximum, minimum, average and\n"
    "frequency of every analog source captured (CH1..CH4, FUNC when the scope\n"
    "measures it) on the same stopped acquisition, and compares them with the\n"
    "scaled data: within two y increments plus the scope's display precision,\n"
    "a frequency within one sample period over the record (a frequency the\n"
    "scope finds no edges for is skipped). It prints the table (in --json as\n"
    "\"verify\") and exits with 1 on any mismatch; the files are written all\n"
    "the same.\n";

struct CaptureVerification {
    std::vector<VerifyRow> rows;
    bool agree() const { return AllAgree(rows); }
};

// The comparison of the capture's data sets with the scope at target.
CaptureVerification VerifyCapture(const CaptureResult& result, const BenchTarget& target,
                                  std::ostream& err);
// The capture's JSON summary (one object and a line feed) with "verify".
std::string WithVerification(const std::string& summaryJson, const CaptureVerification& v);
// The table for a terminal, and a line on err for each disagreement.
void PrintVerification(const CaptureVerification& v, std::ostream& out);
void ReportDisagreement(const CaptureVerification& v, std::ostream& err);

}  // namespace cvn::host
