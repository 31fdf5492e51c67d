// capture --verify's reading, table and JSON member.
#include "apps/wavecatch/CaptureVerify.h"

#include <algorithm>

#include "host/ConsoleUi.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "host/bench/BenchVerify.h"

namespace cvn::host {

CaptureVerification VerifyCapture(const CaptureResult& result, const BenchTarget& target,
                                  std::ostream& err) {
    // The measurement routine's message boxes become lines on stderr.
    ConsoleUiScope console(&err);
    return {VerifyWithScope(target, result.sets)};
}

std::string WithVerification(const std::string& summaryJson, const CaptureVerification& v) {
    JsonWriter rows;
    WriteVerifyJson(rows, v.rows);
    const size_t close = summaryJson.rfind('}');
    if (close == std::string::npos) return summaryJson;
    return summaryJson.substr(0, close) + ",\"verify\":" + rows.text() +
           ",\"verified\":" + (v.agree() ? "true" : "false") + summaryJson.substr(close);
}

void PrintVerification(const CaptureVerification& v, std::ostream& out) {
    out << "verify:\n" << TerminalText(VerifyTable(v.rows));
}

void ReportDisagreement(const CaptureVerification& v, std::ostream& err) {
    const auto bad = std::count_if(v.rows.begin(), v.rows.end(), [](const VerifyRow& r) {
        return r.agreement == Agreement::Mismatch || r.agreement == Agreement::Failed;
    });
    if (bad == 0) return;
    err << "wavecatch: verify: " << bad << " of " << v.rows.size()
        << " values disagree with the scope's own measurements or could not be checked\n";
}

}  // namespace cvn::host
