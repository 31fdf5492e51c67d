// The measurement sequence over one session.
#include "measure/MeasurementRun.h"

#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "measure/SIPrefix.h"
#include "support/UiServices.h"

namespace cvn {

std::string MeasurementRun::query(const std::string& command) {
    session_.Output(command);
    return session_.EnterText();
}

void MeasurementRun::SelectSource(std::string_view listText1) {
    session_.Output(":MEASure:SOURce " + ScopeSourceName(listText1));
}

void MeasurementRun::SelectSources(std::string_view listText1, std::string_view listText2) {
    session_.Output(":MEASure:SOURce " + ScopeSourceName(listText1) + "," +
                    ScopeSourceName(listText2));
}

void MeasurementRun::NewAcquisition() {
    session_.Output(":SINGle");
    ui().wait(kNewAcquisitionWait);
}

MeasurementOutcome MeasurementRun::Measure(const MeasurementChoice& chosen) {
    MeasurementOutcome out;
    try {
        session_.Output(":STOP");

        const std::string sourceReply = query(":MEASure:SOURce?");
        const auto fields = io::splitFields(sourceReply);
        if (fields.empty() || io::trimReply(fields[0]).empty()) {
            throw io::IoError(io::kIoMalformed, "The scope named no measurement source (reply '" +
                                                    std::string(io::trimReply(sourceReply)) + "')");
        }
        const std::string s1 = fields[0];
        // A scope that names one source measures phase and delay against it.
        std::string s2 = fields.size() > 1 ? fields[1] : s1;

        // Only a clear "0" means the second source is off screen.
        const auto shown = io::toNumber(query(":" + s2 + ":DISP?"));
        if (shown && *shown == 0) s2 = s1;
        out.source1 = ListSourceName(s1);
        out.source2 = ListSourceName(s2);

        session_.Output(":MEASure:CLEar");

        for (std::size_t i = 0; i < kMeasurementRows.size(); ++i) {
            const MeasurementRow& row = kMeasurementRows[i];
            if (!chosen[i]) {
                out.texts[i].clear();
                out.rowsDone = i + 1;
                continue;
            }
            const std::string command = MeasurementQuery(row, s1, s2);
            const std::string reply = query(command);
            const auto e = reply.find('E');
            if (e == std::string::npos) {
                throw io::IoError(io::kIoMalformed, "The reply to " + command +
                                                        " is not a measurement: '" +
                                                        std::string(io::trimReply(reply)) + "'");
            }
            // Split at every "E": the piece after the first one is the exponent.
            const auto next = reply.find('E', e + 1);
            const std::string mantissa = reply.substr(0, e);
            const std::string exponent =
                reply.substr(e + 1, next == std::string::npos ? std::string::npos : next - e - 1);
            out.texts[i] = MeasurementDisplayText(mantissa, exponent, row.unit);
            out.values[i] = MeasurementReplyValue(mantissa, exponent);
            out.replies[i] = std::string(io::trimReply(reply));
            out.rowsDone = i + 1;
        }
    } catch (...) {
        out.error = ErrorInfo::current();
    }
    return out;
}

}  // namespace cvn
