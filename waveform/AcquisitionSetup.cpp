#include "waveform/AcquisitionSetup.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "scope/Connection.h"
#include "support/Text.h"
#include "support/UiServices.h"

namespace cvn {
namespace {

std::string query(const char* command) {
    gSession->Output(command);
    return gSession->EnterText();
}

}  // namespace

void CheckMaxPointsSetup(bool& cancel) {
    if (!gSession) throw io::IoError(io::kIoNoSession, "No session is open");
    // The commands keep the exact spelling real scopes were tested with.
    const bool viewOk = ContainsIgnoringCase(query(":timebase:VIEW?"), "Main");
    const std::string average = query(":ACQuire:AVERAGE?");
    bool averageOk = false;
    if (average.find('0') != std::string::npos) {
        averageOk = true;
    } else if (average.find('1') != std::string::npos) {
        auto count = io::toNumber(query("ACQuire:COUNt?"));
        averageOk = count && std::nearbyint(*count) == 1.0;
    }
    if (viewOk && averageOk) return;

    MessageBoxRequest box;
    box.text =
        "To capture the maximum number of points:\r\n"
        "The sweep mode must be set to Main.\r\n"
        "The trigger must be set to Normal or\r\n"
        "Average with 1 point.\r\n"
        "\r\n"
        "Click Yes to change scope settings and continue\r\n"
        "or No to continue with current settings.";
    box.caption = "Corvane Wavecatch";
    box.icon = MsgIcon::Question;
    box.buttons = MsgButtons::YesNoCancel;
    switch (ui().messageBox(box)) {
        case MsgResult::Yes:
            gSession->Output("TIMebase:VIEW Main");
            gSession->Output(":ACQuire:AVERAGE OFF");
            gSession->Output(":DIGITIZE");
            break;
        case MsgResult::Cancel:
            cancel = true;
            break;
        default:
            break;
    }
}

}  // namespace cvn
