// The simulated oscilloscope as one object: takes a program message as
// received, runs its commands against the scope state and returns the reply
// bytes. Safe to call from several connections at once; they share one scope,
// as they would on the real instrument.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/instrument/CommandTable.h"
#include "sim/instrument/ScopeState.h"
#include "sim/instrument/WaveformData.h"

namespace cvn::sim {

// What the connection does once a part has been sent: go on, close it
// (the peer sees an orderly end), or reset it (the peer sees an abort).
// Only faults ask for anything but Continue.
enum class AfterSend { Continue, Close, Reset };

// What a message produced. Parts are sent in order; large blocks are shared
// with the waveform cache, not copied.
struct Response {
    struct Part {
        std::shared_ptr<const std::string> bytes;
        bool block = false;  // a definite-length block
        AfterSend after = AfterSend::Continue;
    };
    std::vector<Part> parts;      // empty when nothing is to be sent
    bool identification = false;  // the message asked "*IDN?"
    bool simulator = false;       // only simulator commands: exempt from faults

    bool empty() const { return parts.empty(); }
    std::string Text() const;  // all parts joined (for tests)
};

// Standard error numbers of the error queue.
namespace scpi_error {
constexpr int kSyntax = -102;
constexpr int kParameterNotAllowed = -108;
constexpr int kMissingParameter = -109;
constexpr int kUndefinedHeader = -113;
constexpr int kSuffixOutOfRange = -114;
constexpr int kSettingsConflict = -221;
constexpr int kDataOutOfRange = -222;
constexpr int kTooMuchData = -223;
constexpr int kIllegalParameter = -224;
constexpr int kInvalidBlock = -161;
}  // namespace scpi_error

// What a handler sees of the command it runs for.
class CommandContext {
public:
    CommandContext(ScopeState& state, WaveformCache& cache, const ScpiCommand& command,
                   const CommandTable::Match& match);

    ScopeState& state;
    WaveformCache& cache;
    const ScpiCommand& command;
    // Runs a message as if received, without logging it; replies are
    // dropped. Used to restore a setup.
    std::function<void(std::string_view)> replay;

    int suffix(size_t i = 0) const;
    size_t argCount() const { return command.args.size(); }
    const std::string& arg(size_t i) const { return command.args.at(i); }

    // Each checker records the matching error and returns false/nothing on
    // bad input, so a handler can simply return.
    bool expectArgs(size_t min, size_t max);
    bool suffixWithin(int lo, int hi, size_t i = 0);
    std::optional<bool> boolArg(size_t i);
    std::optional<double> numberArg(size_t i, double lo, double hi);
    // Index of the keyword (SCPI notation, short or long form) the argument
    // names.
    std::optional<size_t> choiceArg(size_t i, std::initializer_list<std::string_view> keywords);
    std::optional<Source> sourceArg(size_t i);

    // A keyword in the form the reply should use (long form when switched on).
    std::string keyword(std::string_view scpiKeyword) const;

    void reply(std::string text);
    void replyBlock(std::shared_ptr<const std::string> block,
                    AfterSend after = AfterSend::Continue);
    void error(int code, std::string_view text);
    void markIdentification() { identification_ = true; }

    struct Output {
        std::string text;  // header prefix included
        std::shared_ptr<const std::string> block;
        AfterSend after = AfterSend::Continue;
    };
    std::vector<Output>& outputs() { return outputs_; }
    bool identification() const { return identification_; }

private:
    std::string headerPrefix() const;

    const CommandTable::Match& match_;
    std::vector<Output> outputs_;
    bool identification_ = false;
};

class Instrument {
public:
    explicit Instrument(ScopeState initial = ScopeState());

    // Runs one program message (terminator removed) and returns the reply.
    Response Execute(std::string_view message);
    // A copy of the fault switches, which commands may change at run time.
    FaultConfig Faults() const;
    // Runs `f` on the state under the instrument's lock.
    template <typename F>
    auto WithState(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }

private:
    // Execute without taking the lock; `record` is false for messages the
    // instrument gives itself (a setup being restored).
    Response Run(std::string_view message, bool record);

    mutable std::mutex mutex_;
    ScopeState state_;
    WaveformCache cache_;
    CommandTable table_;
};

// True when every command of the message addresses the simulator itself
// (":SIMulator:..."): such messages are not logged and no fault applies.
bool IsSimulatorMessage(std::string_view message);

// Command groups, each registering its headers (one file per group).
void RegisterSystemCommands(CommandTable& table);
void RegisterChannelCommands(CommandTable& table);
void RegisterAcquisitionCommands(CommandTable& table);
void RegisterWaveformCommands(CommandTable& table);
void RegisterSimulatorCommands(CommandTable& table);
void RegisterMeasureCommands(CommandTable& table);

}  // namespace cvn::sim
