// The recorder's acquisitions: arm, wait for the trigger, read each source.
#include "host/bench/Recorder.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <thread>

#include "host/ConsoleUi.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "io/ReplyConvert.h"
#include "scope/Connection.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "waveform/SourceNames.h"
#include "waveform/WaveformTransfer.h"

namespace cvn::host {

namespace {

[[noreturn]] void fail(const std::string& why) {
    throw Error(kBenchFailed, why, "wavecatch");
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One reply line of the open session; a lost link says where it was lost.
std::string query(const std::string& command) {
    if (!gSession) fail("the connection to the scope is closed");
    try {
        gSession->Output(command);
        return gSession->EnterText();
    } catch (const Error& e) {
        fail("the scope stopped answering (" + command + ": " + e.description() + ")");
    }
}

}  // namespace

uint64_t Acquisition::payloadBytes() const {
    uint64_t bytes = 0;
    for (const DataSet& s : result.sets)
        bytes += s.raw.size() * (s.raw.type() == RawSamples::Type::Byte ? 1 : 2);
    return bytes;
}

std::vector<std::string> ParseSourceList(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string entry = upper(trimmed(text.substr(start, comma - start)));
        start = comma + 1;
        std::string name;
        if ((entry.rfind("CHAN", 0) == 0 && entry.size() == 5) ||
            (entry.rfind("CH", 0) == 0 && entry.size() == 3)) {
            const char n = entry.back();
            if (n >= '1' && n <= '4') name = std::string("CHAN") + n;
        } else if (entry == "POD1" || entry == "POD2") {
            name = entry;
        } else if (entry == "FUNC" || entry == "MATH") {
            name = "FUNC";
        }
        if (name.empty())
            throw Error(kInvalidCall,
                        "'" + entry + "' is not a source (CHAN1-CHAN4, POD1, POD2, FUNC)",
                        "wavecatch");
        if (std::find(out.begin(), out.end(), name) != out.end())
            throw Error(kInvalidCall, name + " is listed twice", "wavecatch");
        out.push_back(name);
    }
    return out;
}

Recorder::Recorder(RecordRequest request) : request_(std::move(request)) {
    sources_ = request_.sources;
    if (sources_.empty()) {
        const std::string stored = GetSetting(SettingsKeyFor(request_.target.registryKey),
                                              kSettingsSection, "ActiveChannels", "CHAN1");
        sources_ = ParseSourceList(stored);
    }
    address_ = ResolveAddress(request_.target);
    model_ = OpenScope(request_.target);
    for (const std::string& s : sources_) {
        const std::optional<double> shown = io::toNumber(query(":" + s + ":DISP?"));
        if (!shown) fail(s + ": the scope does not say whether it is shown");
        if (*shown == 0)
            fail(s +
                 " is not shown on the scope, so it would deliver no data; show it, or "
                 "leave it out of --sources");
        if (!xyDescription_.empty()) xyDescription_ += ",";
        try {
            xyDescription_ += AxisDescription(gSession.get(), s, -1).value_or("");
        } catch (const std::exception& e) {
            fail(s + ": the scope does not describe its axes (" + e.what() + ")");
        }
    }
}

Recorder::~Recorder() {
    CloseScope();
}

bool Recorder::waitForTrigger(const std::function<bool()>& stop) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + request_.triggerTimeout;
    auto pause = std::chrono::microseconds(500);
    for (;;) {
        const std::string reply = query(":OPER?");
        const std::optional<double> status = io::toNumber(reply);
        if (!status || *status < 0 || *status != std::floor(*status))
            fail("the scope answered :OPER? with '" + std::string(io::trimReply(reply)) +
                 "', not a status number");
        if ((static_cast<int64_t>(*status) & 8) == 0) return true;
        if (stop && stop()) return false;
        if (Clock::now() >= deadline)
            fail("the scope at " + address_ + " did not trigger within " +
                 std::to_string(request_.triggerTimeout.count() / 1000.0).substr(0, 5) +
                 " s (it is still acquiring; check the trigger, or raise --trigger-timeout)");
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

std::optional<Acquisition> Recorder::Next(const std::function<bool()>& stop) {
    // The transfer's messages are kept, and said once in the error.
    ConsoleUiScope console(nullptr);
    if (!gSession) fail("the connection to the scope is closed");
    try {
        gSession->Output(":SINGle");
    } catch (const Error& e) {
        fail("the scope stopped answering (:SINGle: " + e.description() + ")");
    }
    if (!waitForTrigger(stop)) return std::nullopt;
    Acquisition a;
    a.triggerTime = UtcNowText();
    CaptureResult& r = a.result;
    r.model = model_;
    r.xyDescription = xyDescription_;
    for (const std::string& source : sources_) {
        RawData raw;
        cvn::PreambleBlock block{};
        bool cancel = false;
        ReadSourceWaveform(gSession, raw, block, source, cancel);
        const size_t points = RawDataSize(raw);
        if (cancel || points == 0 || static_cast<double>(points) != block[2]) {
            std::string why = console.ui().joined();
            if (why.empty())
                why = points == 0 ? "no data arrived"
                                  : std::to_string(points) + " points arrived of " +
                                        std::to_string(static_cast<long long>(block[2]));
            fail(source + ": transfer failed (" + why + ")");
        }
        automation::Variant values;
        if (auto words = std::get_if<DataVector<int16_t>>(&raw))
            values = automation::Variant(std::move(*words));
        else if (auto bytes = std::get_if<DataVector<uint8_t>>(&raw))
            values = automation::Variant(std::move(*bytes));
        DataSet set;
        const std::vector<double> numbers(block.begin(), block.end());
        set.block = host::PreambleBlock::FromNumbers(numbers, 0);
        set.raw = RawSamples(values, 0, points);
        set.name = SourceName(set.block.sourceCode);
        r.preamble.insert(r.preamble.end(), numbers.begin(), numbers.end());
        r.sets.push_back(std::move(set));
    }
    r.actionType = 4;
    r.dataType = r.sets.size() > 1 ? 64 : 8;
    a.sequence = ++sequence_;
    return a;
}

}  // namespace cvn::host
