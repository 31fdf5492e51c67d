// Where a recording goes: one HDF5 file with a group per acquisition, or one
// sigrok session per acquisition in a folder, with rolling retention that
// keeps only the newest acquisitions.
//
// h5: the file's attribute "recording" names the writer; each acquisition is
// the group "acq-NNNNNN" (its sequence number, six digits or more) with the
// attributes sequence (64-bit) and trigger_time (UTC, ISO 8601, as the host
// saw the scope stop), and inside it what capture.h5 holds at its top: the
// attributes model, dataType, actionType, xyDescription and a group per data
// set. The file is opened, given one group, flushed and closed per
// acquisition, so a reader that opens it between acquisitions sees every
// finished group. It is created to keep track of the space freed by dropped
// groups and to use it again, so retention bounds the file's size.
//
// sr: "acq-NNNNNN.sr" in the folder, each written whole (atomically).
#pragma once

#include <cstdint>
#include <deque>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "host/Capture.h"

namespace cvn::host {

enum class RecordFormat { H5, Sr };

// The h5 file's root attribute that marks it as a recording.
inline constexpr const char* kRecordingAttribute = "recording";

struct Retention {
    size_t keep = 0;        // the newest this many acquisitions; 0: all
    uint64_t maxBytes = 0;  // what the kept acquisitions may take; 0: no limit
};

// "500M", "2G", "64k", "1000000" (bytes; k, M, G, T are powers of 1024, a
// trailing "B" or "iB" allowed); nothing for anything else or 0.
std::optional<uint64_t> ParseByteSize(const std::string& text);

// The group or file name of an acquisition: "acq-000042" (".sr" added for sr).
std::string AcquisitionName(uint64_t sequence);

class RecordFile {
public:
    // h5: path is the file, sr: a folder (made when missing). An existing
    // file, or a folder that holds acq-*.sr files, is refused (kFileExists)
    // unless `replace`: then the file is replaced, and in a folder the
    // sessions of the same names are. Throws cvn::Error.
    RecordFile(RecordFormat format, std::string path, Retention retention, bool replace);

    struct Written {
        std::string file;    // the file written (h5: the recording)
        uint64_t bytes = 0;  // its size afterwards
        size_t dropped = 0;  // acquisitions removed for retention
    };
    // Adds one acquisition, then drops the oldest as the retention asks.
    // With a size limit the oldest are dropped first until the new one fits
    // beside the rest; one that alone exceeds the limit is refused. Throws
    // cvn::Error; what was written before stays.
    Written append(uint64_t sequence, const std::string& triggerTime, const CaptureResult& result);

    size_t kept() const { return kept_.size(); }
    // What the kept acquisitions take: h5, the file's size less the space
    // HDF5 holds free for reuse; sr, the sizes of the kept files.
    uint64_t usedBytes() const { return used_; }
    const std::string& path() const { return path_; }

private:
    RecordFormat format_;
    std::string path_;
    Retention retention_;
    std::deque<uint64_t> kept_;   // oldest first
    std::deque<uint64_t> sizes_;  // sr: the kept files' sizes
    uint64_t used_ = 0;
    bool created_ = false;  // h5: the file of this recording exists
};

// Writes a recording's acquisitions on a thread of its own, so that one
// acquisition's write overlaps the next one's transfers. One write is in
// flight at most: submit() first waits for the write before it, so no more
// than two acquisitions are held, and the file is written in sequence
// order. Nothing else may use the RecordFile while a write is in flight.
class RecordWriter {
public:
    explicit RecordWriter(RecordFile& file) : file_(file) {}
    // Waits for the write in flight; its failure is dropped (use finish()).
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    struct Done {
        uint64_t sequence = 0;
        RecordFile::Written written;
    };
    // Waits for the write in flight and returns it (its cvn::Error thrown
    // instead when it failed; this acquisition is then not written), then
    // starts writing this one. The result shares its samples; they must not
    // change until the write is done.
    std::optional<Done> submit(uint64_t sequence, std::string triggerTime, CaptureResult result);
    // Waits for the write in flight: what submit() would return.
    std::optional<Done> finish();
    // The acquisition being written, 0 for none.
    uint64_t inFlight() const { return inFlight_; }

private:
    RecordFile& file_;
    std::future<Done> pending_;
    uint64_t inFlight_ = 0;
};

// One acquisition of a recording.h5 read back.
struct RecordedAcquisition {
    std::string group;  // "acq-000001"
    uint64_t sequence = 0;
    std::string triggerTime;
    std::string model;
    // Per data set: its name ("CH1") and raw values (with data) or empty.
    std::vector<std::pair<std::string, std::vector<double>>> sets;
};
// The acquisitions of a recording file in sequence order; throws cvn::Error
// (kPathError) naming the file when it is missing or not a recording.
std::vector<RecordedAcquisition> ReadRecording(const std::string& path, bool withData);

}  // namespace cvn::host
