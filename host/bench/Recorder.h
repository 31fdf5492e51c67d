// The unattended recorder: arms the scope for one acquisition (":SINGle"),
// waits until its run bit (8 in the ":OPER?" reply) clears, reads each
// source with the add-in's own per-source transfer over the shared session
// and hands the acquisition over as a capture's result, so the formats and
// the scaling stay the capture's. It skips the retrieval's one-second settle
// wait: the scope is known to have stopped when the run bit clears.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/Capture.h"
#include "host/bench/Bench.h"

namespace cvn::host {

struct RecordRequest {
    BenchTarget target;
    // Source-list entries ("CHAN1".."CHAN4", "POD1", "POD2", "FUNC"); empty:
    // the list the add-in's dialog stored (ActiveChannels).
    std::vector<std::string> sources;
    // Longest wait for one acquisition to end.
    std::chrono::milliseconds triggerTimeout{std::chrono::seconds(30)};
};

struct Acquisition {
    uint64_t sequence = 0;    // 1, 2, ... in the order taken
    std::string triggerTime;  // UTC, ISO 8601: when the host saw the scope stop
    CaptureResult result;     // one data set per source, actionType 4
    // Bytes of raw data the data sets hold.
    uint64_t payloadBytes() const;
};

// A source list as the user gives it ("CHAN1,CHAN2", "ch1, pod1"): entries
// in the add-in's spelling, each checked; throws cvn::Error (kInvalidCall)
// naming an entry the transfer does not know.
std::vector<std::string> ParseSourceList(const std::string& text);

class Recorder {
public:
    // Opens the scope (OpenScope) and checks that every source is shown:
    // one that is not would deliver no data. Throws cvn::Error (kBenchFailed).
    explicit Recorder(RecordRequest request);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Takes the next acquisition. `stop` is asked while the scope has not
    // triggered yet: true gives up the wait and returns nothing. A scope
    // that does not stop within the time-out, stops answering, or a source
    // whose data does not arrive whole throws cvn::Error (kBenchFailed)
    // saying which and why; nothing of that acquisition is returned.
    std::optional<Acquisition> Next(const std::function<bool()>& stop = {});

    const std::vector<std::string>& sources() const { return sources_; }
    const std::string& model() const { return model_; }
    const std::string& address() const { return address_; }

private:
    bool waitForTrigger(const std::function<bool()>& stop);

    RecordRequest request_;
    std::string address_;
    std::string model_;
    std::vector<std::string> sources_;
    std::string xyDescription_;
    uint64_t sequence_ = 0;
};

}  // namespace cvn::host
