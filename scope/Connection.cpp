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

bool isConnected(const std::string& address, bool showMessages, std::string& model,
                 bool& connected) {
    scope().Connect(address);

    ErrorInfo why;
    auto open = [&]() {
        try {
            // A reconnection keeps the time-out the caller gave the old session.
            const int timeout = gSession ? gSession->Timeout() : 0;
            gSession.reset();
            gIoManager = std::make_shared<io::IoManager>();
            gSession = gIoManager->Open(address);
            if (timeout > 0) gSession->SetTimeout(timeout);
            return true;
        } catch (...) {
            why = ErrorInfo::current();
            return false;
        }
    };
    std::string reply;
    auto identify = [&]() {
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
        return identified;
    };

    // A session that failed before may be out of step with the scope (a late
    // reply, a dropped link): connect afresh rather than reuse it.
    bool fresh = false;
    if (!gSession || gSession->Address() != address || gSession->Faulted()) {
        if (!open()) {
            if (showMessages) errorHandler().HandleError(why, kConnectProcedure, 1, 115);
            return false;
        }
        fresh = true;
    }
    bool identified = identify();
    // A reused link can have died quietly since its last use (the scope was
    // switched off, a cable pulled): one fresh connection settles it.
    if (!identified && !fresh && open()) identified = identify();
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
