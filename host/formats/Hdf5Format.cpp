// h5: capture.h5, raw data and preambles in HDF5, for big records.
#include <filesystem>

#include "host/formats/CaptureFormat.h"
#include "host/formats/Hdf5Writer.h"

namespace cvn::host {
namespace {

constexpr const char* kFile = "capture.h5";

class Hdf5 final : public CaptureFormat {
public:
    std::string_view id() const override { return "h5"; }
    std::string_view help() const override {
        return "capture.h5: raw data, preambles, units in HDF5 (for big records)";
    }
    std::vector<std::string> files(const CaptureResult&) const override { return {kFile}; }
    bool owns(const std::string& name) const override { return name == kFile; }
    void write(const CaptureResult& r, const std::string& folder) const override {
        WriteHdf5(r, (std::filesystem::path(folder) / kFile).string());
    }
};

}  // namespace

const CaptureFormat& Hdf5Format() {
    static const Hdf5 kFormat;
    return kFormat;
}

}  // namespace cvn::host
