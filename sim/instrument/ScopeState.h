// Everything the simulated oscilloscope remembers: its identity, run state,
// what it displays, time base, acquisition and waveform transfer settings,
// the error queue, and the simulator's own bookkeeping (command log, fault
// switches) that tests read back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/instrument/Signals.h"

namespace cvn::sim {

// Identity of the simulated model, from the simulator's own catalogue.
struct ModelInfo {
    std::string id;
    int channels = 4;
    bool hasPods = false;
    bool streamingFamily = false;      // accepts the waveform streaming switch
    long maxRecordLength = 8'000'000;  // acquisition memory in points

    static ModelInfo FromTable(std::string_view id);
    // The model the simulator plays when none is asked for: the first
    // four-channel model with pods of the newest family.
    static std::string DefaultId();
};

enum class RunState { Running, Stopped };
enum class WaveFormat { Word, Byte, Ascii };
enum class ByteOrder { MsbFirst, LsbFirst };
enum class PointsMode { Normal, Maximum, Raw };
enum class AcquireType { Normal, Average, HighResolution, Peak };
enum class SourceKind { Channel, Pod, Function };

struct Source {
    SourceKind kind = SourceKind::Channel;
    int index = 1;  // 1-based
    bool operator==(const Source&) const = default;
};

// How a data block's header may lie about its length.
enum class LyingHeader { Off, Close, Wait };

// Switches that make the simulator misbehave on purpose.
struct FaultConfig {
    int delayMs = 0;                             // before every reply
    int idnDelayMs = 0;                          // before a reply that answers "*IDN?"
    long dropAfter = -1;                         // close a connection after this many messages
    bool garbage = false;                        // answer every query with bytes that mean nothing
    bool silent = false;                         // answer nothing
    bool truncateData = false;                   // send half of each data block, then close
    bool shortData = false;                      // waveform data one point short of its preamble
    LyingHeader lyingHeader = LyingHeader::Off;  // header declares more than is sent
    bool cutData = false;           // reset the connection in the middle of waveform data
    bool garbagePreamble = false;   // the preamble reply is meaningless bytes
    bool resetScreen = false;       // reset the connection in the middle of the screen image
    int lateTerminatorMs = 0;       // send the line feed after a binary block this much later
    bool indefiniteBlocks = false;  // send binary blocks as "#0" (data runs to the line feed)
    bool preambleExtra = false;     // the preamble reply carries one more field...
    std::string preambleExtraText;  // ...with this text (empty: a trailing comma)
    // The preamble states a y increment 1.1 times the one the data was
    // made with, while the measurements stay right: scaling that is wrong.
    bool wrongYIncrement = false;
    // The waveform faults (short, lying, cut data, bad preamble) hit only
    // this source's transfer when set, every source's otherwise.
    std::optional<Source> faultSource;
    std::string measureReply;  // non-empty: the reply to every measurement query
    // A single acquisition (":SINGle") runs this long before it stops, with
    // the run bit of ":OPER?" set meanwhile; 0 completes it at once.
    int acquireMs = 0;
    bool neverTrigger = false;  // a single acquisition never completes
    // Each completed acquisition moves the phase of every channel's signal
    // by this much, so that consecutive acquisitions can be told apart.
    double acquirePhaseStepDeg = 0;
    // How ":OPER?" is answered: "8" (plain), "+8" (signed), "8\r\n" (crlf).
    enum class StatusForm { Plain, Signed, CrLf } statusForm = StatusForm::Plain;
};

struct ScopeState {
    static constexpr int kMaxChannels = 4;
    static constexpr int kPods = 2;
    static constexpr int kFunctions = 4;
    static constexpr size_t kErrorQueueSize = 30;
    static constexpr size_t kLogSize = 100000;
    static constexpr long kNormalPointsLimit = 1'000'000;
    static constexpr long kMaxRecordLength = 16'000'000;  // of the largest model
    static constexpr long kFftBins = 32768;

    ModelInfo model;
    std::string serial;
    std::string firmware = "H3.07.0142";
    std::string idnOverride;  // when set, the identification reply as is

    // Instrument settings; Reset() restores them.
    RunState run = RunState::Running;
    bool channelDisplay[kMaxChannels] = {};
    double channelScale[kMaxChannels] = {};   // volts per division
    double channelOffset[kMaxChannels] = {};  // volts at screen centre
    bool podDisplay[kPods] = {};
    bool functionDisplay[kFunctions] = {};
    std::string functionOperator[kFunctions];  // "ADD", "FFT", ...
    std::string functionOperands[kFunctions];  // "CHAN1,CHAN2"
    std::string timebaseView = "MAIN";         // MAIN or WINDow
    double timebaseScale = 1e-3;               // seconds per division
    double timebasePosition = 0.0;
    AcquireType acquireType = AcquireType::Normal;
    long acquireCount = 8;          // averages when averaging
    long recordLength = 8'000'000;  // acquisition memory in points
    std::string waveformView = "MAIN";
    WaveFormat format = WaveFormat::Byte;
    ByteOrder byteOrder = ByteOrder::MsbFirst;
    Source source;
    long pointsRequested = 1000;
    PointsMode pointsMode = PointsMode::Normal;
    bool streaming = true;
    bool header = false;
    bool longForm = false;
    std::string measureSource1 = "CHAN1";
    std::string measureSource2 = "CHAN2";

    // What the inputs see; kept across *RST like a probe still connected.
    SignalConfig signal[kMaxChannels];
    PodConfig pod[kPods];

    // Simulator bookkeeping, kept across *RST.
    std::deque<std::pair<int, std::string>> errors;
    std::deque<std::string> log;
    long acquisitions = 0;
    long streamingOffCount = 0;
    FaultConfig faults;
    FaultConfig startupFaults;  // what :SIMulator:RESet goes back to
    SignalConfig startupSignal[kMaxChannels];
    PodConfig startupPod[kPods];

    explicit ScopeState(ModelInfo m = ModelInfo::FromTable(ModelInfo::DefaultId()),
                        std::string serialNumber = "CVN40517263");
    void Reset();
    // Makes the current signals and faults what ":SIMulator:RESet" restores.
    void KeepAsStartup();

    void PushError(int code, std::string_view message);
    // '<code>,"<message>"', or '0,"No error"' when the queue is empty.
    std::string PopError();
    void Record(std::string message);

    bool ValidSource(const Source& s) const;
    bool SourceDisplayed(const Source& s) const;
    // Points the next transfer delivers for the current source and settings.
    long AvailablePoints() const;
    long TransferPoints() const;
    // Completes one acquisition (":SINGle", ":DIGitize") and stops.
    void Acquire();
    // ":SINGle": completes at once, or arms a single acquisition that runs
    // for faults.acquireMs (for ever when faults.neverTrigger).
    void Single(std::chrono::steady_clock::time_point now);
    // Completes an armed single acquisition whose time has come.
    void Advance(std::chrono::steady_clock::time_point now);
    std::optional<std::chrono::steady_clock::time_point> singleDue;
    int OperationCondition() const { return run == RunState::Running ? 8 : 0; }
};

// "CHANnel2", "CHAN2", "POD1", "FUNCtion1", "FUNC", "MATH" (any case) to a
// source; nothing for anything else.
std::optional<Source> ParseSource(std::string_view text);
// "CHAN2", "POD1", "FUNC1" (or the long forms).
std::string SourceName(const Source& s, bool longForm);

}  // namespace cvn::sim
