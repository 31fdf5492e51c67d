// The scope's side of capture --verify.
#include "host/bench/BenchVerify.h"

#include <exception>

namespace cvn::host {

namespace {

VerifyRow failedRow(const DataSet& set, Agreement agreement, const std::string& why) {
    VerifyRow row;
    row.source = set.name;
    row.quantity = "measurements";
    row.agreement = agreement;
    row.note = why;
    return row;
}

}  // namespace

std::vector<VerifyRow> VerifyWithScope(const BenchTarget& target,
                                       const std::vector<DataSet>& sets) {
    struct Close {
        ~Close() { CloseScope(); }
    } close;
    std::vector<VerifyRow> rows;
    bool open = false;
    std::string openFailure;
    for (const DataSet& set : sets) {
        const int32_t code = set.block.sourceCode;
        if (set.kind() != SourceKind::Analog) continue;
        const bool function = code == 5;
        if (!open && openFailure.empty()) {
            try {
                OpenScope(target);
                open = true;
            } catch (const std::exception& e) {
                openFailure = e.what();
            }
        }
        if (!open) {
            rows.push_back(
                failedRow(set, Agreement::Failed, "cannot reach the scope: " + openFailure));
            continue;
        }
        MeasureRequest request;
        request.source1 = function ? "MATH" : "CHAN" + std::to_string(code);
        request.newAcquisition = false;
        request.only.assign(std::begin(kVerifiedRows), std::end(kVerifiedRows));
        try {
            const MeasureResult measured = RunMeasurements(request);
            std::vector<ScopeReading> readings;
            for (const MeasureRow& r : measured.rows) readings.push_back({r.name, r.reply});
            for (VerifyRow& row : CompareWithScope(set, readings)) rows.push_back(std::move(row));
        } catch (const std::exception& e) {
            // A math function the scope will not measure is no fault of the
            // data; a channel it captured it must measure.
            rows.push_back(failedRow(set, function ? Agreement::Skipped : Agreement::Failed,
                                     std::string("the scope's measurements failed: ") + e.what()));
        }
    }
    return rows;
}

}  // namespace cvn::host
