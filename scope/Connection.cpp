#include "scope/Connection.h"

#include <algorithm>
#include <cctype>

#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "scope/CScope.h"
#include "scope/ModelTable.h"
#include "support/AppKey.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"

namespace cvn {

io::IoSessionPtr gSession;
std::shared_ptr<io::IoManager> gIoManager;

namespace {

bool gWasRunning = false;

// A scope that needs more than this to say who it is counts as absent: the
// dialog and the driver ask on every pass and must not hang on a dead link.
constexpr int kIdentifyTimeoutMs = 500;

constexpr const char* kConnectProcedure = "isConnected, Error ";

bool containsComIgnoringCase(const std::string& address) {
    std::string upper(address);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("COM") != std::string::npos;
}

}  // namespace

bool isConnected(const std::string& address, bool showMessages, std::string& model,
                 bool& connected) {
    scope().Connect(address);

    if (!gSession || gSession->Address() != address) {
        try {
            gSession.reset();
            gIoManager = std::make_shared<io::IoManager>();
            gSession = gIoManager->Open(address);
        } catch (...) {
            if (showMessages) errorHandler().HandleError(kConnectProcedure, 1, 115);
            return false;
        }
    }

    std::string reply;
    bool identified = false;
    try {
        const int previous = gSession->Timeout();
        gSession->SetTimeout(kIdentifyTimeoutMs);
        try {
            gSession->Output("*IDN?");
            reply = gSession->EnterText();
            identified = true;
        } catch (...) {
        }
        gSession->SetTimeout(previous);
    } catch (...) {
    }
    if (!identified) {
        try {
            throw io::IoError(io::kIoTimeout, "The instrument did not identify itself within 500 ms");
        } catch (...) {
            if (showMessages) errorHandler().HandleError(kConnectProcedure, 1, 115);
        }
        return false;
    }

    bool supported = true;
    try {
        supported = IsSupportedModel(reply);
    } catch (...) {
        // Without a model table nothing can be ruled out.
    }
    if (!supported) {
        gSession.reset();
        gIoManager.reset();
        errorHandler().HandleError(kConnectProcedure, 1, 116);
        return false;
    }

    try {
        if (containsComIgnoringCase(address)) {
            gSession->SetTermChar(10);
            gSession->SetWriteTermChar(10);
        }
    } catch (...) {
    }
    model.clear();
    try {
        gSession->Output("*IDN?");
        auto fields = gSession->EnterTextArray();
        if (fields.size() > 1) model = fields[1];
    } catch (...) {
    }
    connected = true;
    try {
        SaveSetting(SettingsAppKey(), kSettingsSection, "Corvane Halvio Series", address);
    } catch (...) {
        // Not remembering the address only costs the user retyping it.
    }
    return true;
}

void SetRunStopMode(bool startOfReading) {
    try {
        if (!startOfReading && !gWasRunning) return;
        if (!gSession) throw io::IoError(io::kIoNoSession, "No session is open");
        if (startOfReading) {
            gSession->Output("OPER?");
            auto status = io::toInt16(gSession->EnterText());
            if (!status)
                throw io::IoError(io::kIoMalformed, "The operation status reply is not a number");
            gWasRunning = (*status & 8) != 0;
            if (gWasRunning) gSession->Output(":STOP");
        } else {
            gSession->Output(":RUN");
        }
    } catch (...) {
        errorHandler().HandleError("SetRunStopMode, model# = ", 0, -1);
    }
}

}  // namespace cvn
