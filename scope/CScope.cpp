// The scope session. Connect, the display queries and IsRunning never throw:
// the driver asks them in loops and treats a failure as "no". Commands that
// change the scope pass a failed send to the caller.
#include "scope/CScope.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "io/IoError.h"
#include "io/ReplyConvert.h"
#include "scope/ModelTable.h"
#include "scope/TempFileName.h"
#include "support/AtomicFile.h"
#include "support/ErrorHandler.h"

namespace cvn {

std::shared_ptr<CScope> gScope;

CScope& scope() {
    if (!gScope) gScope = std::make_shared<CScope>();
    return *gScope;
}

CScope::CScope() = default;

void CScope::Output(std::string_view cmd) {
    if (session_) session_->Output(cmd);
}

void CScope::StopRunning() {
    Output(":STOP");
}

void CScope::RunSingle() {
    Output(":SINGLE");
}

void CScope::ChanDisp(int16_t chan, bool disp) {
    if (!session_ || chan < 1 || chan > channelCount_) return;
    Output(":CHAN" + std::to_string(chan) + (disp ? ":DISP ON" : ":DISP OFF"));
}

bool CScope::IsChanDisp(std::string_view chan) {
    try {
        if (!session_) return false;
        session_->Output(":" + std::string(chan) + ":DISP?");
        auto value = io::toNumber(session_->EnterText());
        return value && *value != 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool CScope::IsAnyOneDisp() {
    for (int i = 1; i <= channelCount_; ++i)
        if (IsChanDisp("CHAN" + std::to_string(i))) return true;
    if (isMSO_)
        for (int i = 1; i <= 2; ++i)
            if (IsChanDisp("POD" + std::to_string(i))) return true;
    return false;
}

bool CScope::IsRunning() {
    try {
        if (!session_) return false;
        session_->Output(":OPER?");
        auto status = io::toInt16(session_->EnterText());
        return status && (*status & 8) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

void CScope::SaveChanState() {
    if (!session_) return;
    auto query = [this](const std::string& cmd, std::string& state) {
        try {
            session_->Output(cmd);
            state = session_->EnterText();
        } catch (const std::exception&) {
            // A channel that does not answer keeps its last known state.
        }
    };
    if (channelStates_.size() < static_cast<size_t>(channelCount_) + 1)
        channelStates_.resize(static_cast<size_t>(channelCount_) + 1);
    for (int i = 1; i <= channelCount_; ++i)
        query(":CHAN" + std::to_string(i) + ":DISP?", channelStates_[static_cast<size_t>(i)]);
    if (isMSO_)
        for (int i = 1; i <= 2; ++i)
            query(":POD" + std::to_string(i) + ":DISP?", podStates_[static_cast<size_t>(i)]);
}

void CScope::RestoreChanState() {
    if (!session_) return;
    // The saved replies end in a line feed; the command is sent with it
    // stripped so the scope sees one message per channel.
    auto restore = [this](const std::string& head, const std::string& state) {
        session_->Output(head + std::string(io::trimReply(state)));
    };
    if (channelStates_.size() < static_cast<size_t>(channelCount_) + 1)
        channelStates_.resize(static_cast<size_t>(channelCount_) + 1);
    for (int i = 1; i <= channelCount_; ++i)
        restore(":CHAN" + std::to_string(i) + ":DISP ", channelStates_[static_cast<size_t>(i)]);
    if (isMSO_)
        for (int i = 1; i <= 2; ++i)
            restore(":POD" + std::to_string(i) + ":DISP ", podStates_[static_cast<size_t>(i)]);
}

void CScope::Disconnect() {
    session_.reset();
}

bool CScope::Connect(const std::string& conn) {
    // A session is replaced only when it cannot be trusted: none yet, a new
    // address, or a link that is closed or out of step. The scope is asked
    // once; a scope that does not answer is not asked again here, the
    // caller's retry prompt is the only retry.
    if (!session_ || conn != address_ || session_->Broken()) {
        const bool sameAddress = session_ && conn == address_;
        address_ = conn;
        // A failed open drops the old session, so the next Connect with the
        // same address tries again instead of talking to the old scope. A
        // replaced link keeps the time-out the caller gave it; a new address
        // starts with the I/O library's default.
        const int timeout = sameAddress ? session_->Timeout() : 0;
        session_.reset();
        try {
            session_ = manager_.Open(conn);
            if (timeout > 0) session_->SetTimeout(timeout);
        } catch (const std::exception&) {
            return false;
        }
    }
    std::string reply;
    try {
        session_->Output("*IDN?");
        reply = session_->EnterText();
    } catch (const std::exception&) {
        return false;
    }
    if (reply.empty()) return false;

    size_t first = reply.find(',');
    if (first != std::string::npos) {
        size_t second = reply.find(',', first + 1);
        model_ = reply.substr(first + 1,
                              second == std::string::npos ? std::string::npos : second - first - 1);
        isMSO_ = ModelHasPods(model_);
        if (auto count = ChannelCountOf(model_, gModelList, gChannelList))
            channelCount_ = static_cast<int16_t>(*count);
    }
    return true;
}

void CScope::SetStopMode(bool startOfReading) {
    try {
        if (startOfReading) {
            if (!session_) throw io::IoError(io::kIoNoSession, "No session is open");
            session_->Output(":OPER?");
            auto status = io::toInt16(session_->EnterText());
            if (!status)
                throw io::IoError(io::kIoMalformed, "The operation status reply is not a number");
            wasRunning_ = (*status & 8) != 0;
            if (wasRunning_) session_->Output(":STOP");
        } else if (wasRunning_) {
            if (!session_) throw io::IoError(io::kIoNoSession, "No session is open");
            session_->Output(":RUN");
        }
    } catch (...) {
        errorHandler().HandleError("SetRunStopMode, model# = ", 0, -1);
    }
}

void CScope::GetBitMap(std::string& filePath, bool& error, bool invert) {
    if (!session_) return;
    try {
        filePath = NewTempFileName("cvn");
        const int previousTimeout = session_->Timeout();
        // A screen image is one large block; the long time-out covers only it.
        session_->SetTimeout(210000);
        session_->SetTermChar(-1);
        session_->Output(invert ? ":DISPlay:DATA? BMP, SCReen, ON, Inv"
                                : ":DISPlay:DATA? BMP, SCReen");
        DataVector<uint8_t> bytes = session_->EnterBytes();
        session_->SetTimeout(previousTimeout);
        session_->SetTermChar(10);
        if (!WriteImageFile(filePath, bytes)) error = true;
    } catch (...) {
        error = true;
        if (session_) {
            try {
                session_->SetTimeout(10000);
                session_->SetTermChar(10);
            } catch (...) {
            }
        }
        errorHandler().HandleError("isConnected, Error ", 1, 202);
    }
}

bool CScope::WriteImageFile(const std::string& path, std::span<const uint8_t> data) {
    if (path.empty()) return false;
    // Written beside the target and renamed over it, so the host never sees
    // a half-written image; readable by its owner only, like the temporary
    // file it replaces. A failure is told by the result alone.
    try {
        WriteFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), 0600);
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace cvn
