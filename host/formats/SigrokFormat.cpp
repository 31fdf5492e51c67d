// sr: capture.sr, a sigrok session for PulseView. It states the sample rate
// in whole hertz, so at any other rate it is left out with the reason.
#include <filesystem>

#include "host/formats/CaptureFormat.h"
#include "host/formats/SigrokWriter.h"

namespace cvn::host {
namespace {

class Session final : public CaptureFormat {
public:
    std::string_view id() const override { return "sr"; }
    std::string_view help() const override {
        return "capture.sr: sigrok session for PulseView (analog in volts, pods as D0-D15)";
    }
    std::vector<std::string> files(const CaptureResult&) const override { return {"capture.sr"}; }
    bool owns(const std::string& name) const override { return name == "capture.sr"; }
    std::string refusal(const CaptureResult& r) const override { return SigrokRateProblem(r); }
    void write(const CaptureResult& r, const std::string& folder) const override {
        WriteSigrokSession(r, (std::filesystem::path(folder) / "capture.sr").string());
    }
};

}  // namespace

const CaptureFormat& SigrokFormat() {
    static const Session kFormat;
    return kFormat;
}

}  // namespace cvn::host
