// vcd: capture.vcd, the logic lines as a value change dump. Like the
// session it states the rate in whole hertz, or is left out with the reason.
#include <filesystem>

#include "host/formats/CaptureFormat.h"
#include "host/formats/SigrokWriter.h"

namespace cvn::host {
namespace {

class ValueChangeDump final : public CaptureFormat {
public:
    std::string_view id() const override { return "vcd"; }
    std::string_view help() const override {
        return "capture.vcd: the logic lines (only when pods or bits were captured)";
    }
    std::vector<std::string> files(const CaptureResult& r) const override {
        if (!HasLogicLines(r)) return {};
        return {"capture.vcd"};
    }
    bool owns(const std::string& name) const override { return name == "capture.vcd"; }
    std::string refusal(const CaptureResult& r) const override { return SigrokRateProblem(r); }
    void write(const CaptureResult& r, const std::string& folder) const override {
        WriteVcd(r, (std::filesystem::path(folder) / "capture.vcd").string());
    }
};

}  // namespace

const CaptureFormat& VcdFormat() {
    static const ValueChangeDump kFormat;
    return kFormat;
}

}  // namespace cvn::host
