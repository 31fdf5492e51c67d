// One oscilloscope connection: identification, model facts (channel count,
// digital pods), run control, channel display and the screen image. The
// add-in keeps one shared instance, gScope, for stop/single before a
// retrieval, the per-source display test and the screen image.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/IoSession.h"

namespace cvn {

class CScope {
public:
    CScope();

    bool IsMSO() const { return isMSO_; }
    int16_t ChannelCount() const { return channelCount_; }

    // Sends cmd when a session is open; a failed send throws.
    void Output(std::string_view cmd);
    void StopRunning();
    void RunSingle();
    void ChanDisp(int16_t chan, bool disp);
    // chan is a source name such as "CHAN1" or "POD1". Never throws.
    bool IsChanDisp(std::string_view chan);
    bool IsAnyOneDisp();
    bool IsRunning();
    void SaveChanState();
    void RestoreChanState();
    void Disconnect();
    // Opens (or reuses) the session for conn and identifies the scope.
    // Never throws; true when the scope answered the identification.
    bool Connect(const std::string& conn);
    // Stops a running scope at the start of a reading and restarts it after.
    void SetStopMode(bool startOfReading);
    // Captures the screen into a new temporary bitmap file.
    void GetBitMap(std::string& filePath, bool& error, bool invert);

    const std::string& address() const { return address_; }
    const std::string& model() const { return model_; }
    const io::IoSessionPtr& session() const { return session_; }

private:
    bool WriteImageFile(const std::string& path, std::span<const uint8_t> data);

    bool isMSO_ = false;
    std::string address_;
    int16_t channelCount_ = 0;
    io::IoSessionPtr session_;
    io::IoManager manager_;
    std::string model_;
    std::vector<std::string> channelStates_ = std::vector<std::string>(5);  // [1..ChannelCount]
    std::array<std::string, 3> podStates_{};
    bool wasRunning_ = false;
};

// The shared scope object, created by the first add-in object.
extern std::shared_ptr<CScope> gScope;
CScope& scope();

}  // namespace cvn
