// A capture.h5, or a recording of them, read back: what `show` prints and
// `setup restore --from` sends. Only files the capture writes are accepted: the model and result
// codes on the file, every group a data set with its raw values and an
// 11-number preamble, and "extras" as Hdf5Writer.h lays it out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/Capture.h"

namespace cvn::host {

struct CaptureFileSource {
    std::string name;    // the group, "CH1"
    std::string source;  // the source's settings name, "CHAN1"
    uint64_t points = 0;
    double sampleRate = 0;  // samples a second, 0 when the preamble gives none
    std::string yUnits;
};

struct CaptureFile {
    std::string model;
    int32_t dataType = 0;
    int32_t actionType = 0;
    std::vector<CaptureFileSource> sources;
    bool cancel = false;                  // from the extras
    std::optional<CaptureExtras> extras;  // when the file holds them
};

// Reads path; throws cvn::Error (kPathError) naming the file and what is
// wrong when it is missing, not HDF5, damaged or not a capture's file.
CaptureFile ReadCaptureFile(const std::string& path);

// The setup file a capture.h5 keeps, for sending back; throws cvn::Error as
// ReadCaptureFile does, and when the file holds none.
std::string CaptureSetupFile(const std::string& path);

// A recording.h5 (wavecatch record) read back without its samples: each
// kept acquisition's group, sequence number and trigger time, and what its
// group holds as a capture holds it, in sequence order.
struct RecordingFileAcquisition {
    std::string group;  // "acq-000001"
    uint64_t sequence = 0;
    std::string triggerTime;
    CaptureFile capture;
};
struct RecordingFile {
    std::vector<RecordingFileAcquisition> acquisitions;
};

// True when path is an HDF5 file with a recording's mark. Never throws.
bool IsRecordingFile(const std::string& path) noexcept;
// Reads path; throws cvn::Error as ReadCaptureFile does.
RecordingFile ReadRecordingFile(const std::string& path);

// True when the file starts with the HDF5 signature. Never throws.
bool IsHdf5File(const std::string& path) noexcept;

}  // namespace cvn::host
