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
#include "support/Text.h"

namespace cvn {

io::IoSessionPtr gSession;
std::shared_ptr<io::IoManager> gIoManager;

namespace {

bool gWasRunning = false;

// A scope that needs more than this to say who it is counts as absent: the
// dialog and the driver ask on every pass and must not hang on a dead link.
constexpr int kIdentifyTimeoutMs = 500;

constexpr const char* kConnectProcedure = "isConnected, Error ";

}  // namespace

io::IoSession& SharedSession(const std::string& address) {
    if (!io::Reusable(gSession, address)) {
        const bool sameAddress = gSession && gSession->Address() == address;
        auto manager = std::make_shared<io::IoManager>();
        auto session = manager->Open(address);
        if (sameAddress) session->SetTimeout(gSession->Timeout());
        gIoManager = std::move(manager);
        gSession = std::move(session);
    }
    return *gSession;
}

bool isConnected(const std::string& address, bool showMessages, std::string& model,
                 bool& connected) {
    scope().Connect(address);

    ErrorInfo why;
    try {
        SharedSession(address);
    } catch (...) {
        why = ErrorInfo::current();
        if (showMessages) errorHandler().HandleError(why, kConnectProcedure, 1, 115);
        return false;
    }

    // Asked once: a scope that does not say who it is within the short
    // time-out is not connected, and the caller's retry prompt is the only
    // retry.
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
            why = ErrorInfo::current();
        }
        gSession->SetTimeout(previous);
    } catch (...) {
    }
    if (!identified) {
        if (showMessages) errorHandler().HandleError(why, kConnectProcedure, 1, 115);
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
        if (ContainsIgnoringCase(address, "COM")) {
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
