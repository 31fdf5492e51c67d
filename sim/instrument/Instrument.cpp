// Message execution of the simulated oscilloscope.
#include "sim/instrument/Instrument.h"

#include <algorithm>
#include <cstddef>

namespace cvn::sim {
namespace {

bool IsSimulatorHeader(const ScpiCommand& c) {
    return !c.header.empty() &&
           (c.header.front().name == "SIM" || c.header.front().name == "SIMULATOR");
}

}  // namespace

bool IsSimulatorMessage(std::string_view message) {
    const auto texts = SplitCommands(message);
    if (texts.empty()) return false;
    for (const auto& text : texts) {
        const auto c = ParseCommand(text);
        if (!c || !IsSimulatorHeader(*c)) return false;
    }
    return true;
}

std::string Response::Text() const {
    std::string s;
    for (const Part& p : parts) s += *p.bytes;
    return s;
}

// ---------------------------------------------------------------- context

CommandContext::CommandContext(ScopeState& s, WaveformCache& c, const ScpiCommand& cmd,
                               const CommandTable::Match& match)
    : state(s), cache(c), command(cmd), match_(match) {}

int CommandContext::suffix(size_t i) const {
    return i < match_.suffixes.size() ? match_.suffixes[i] : 1;
}

bool CommandContext::expectArgs(size_t min, size_t max) {
    if (argCount() < min) {
        error(scpi_error::kMissingParameter, "Missing parameter");
        return false;
    }
    if (argCount() > max) {
        error(scpi_error::kParameterNotAllowed, "Parameter not allowed");
        return false;
    }
    return true;
}

bool CommandContext::suffixWithin(int lo, int hi, size_t i) {
    const int s = suffix(i);
    if (s < lo || s > hi) {
        error(scpi_error::kSuffixOutOfRange, "Header suffix out of range");
        return false;
    }
    return true;
}

std::optional<bool> CommandContext::boolArg(size_t i) {
    if (i >= argCount()) {
        error(scpi_error::kMissingParameter, "Missing parameter");
        return std::nullopt;
    }
    auto b = ParseBoolean(arg(i));
    if (!b) error(scpi_error::kIllegalParameter, "Illegal parameter value");
    return b;
}

std::optional<double> CommandContext::numberArg(size_t i, double lo, double hi) {
    if (i >= argCount()) {
        error(scpi_error::kMissingParameter, "Missing parameter");
        return std::nullopt;
    }
    auto v = ParseNumber(arg(i));
    if (!v) {
        error(scpi_error::kIllegalParameter, "Illegal parameter value");
        return std::nullopt;
    }
    if (*v < lo || *v > hi) {
        error(scpi_error::kDataOutOfRange, "Data out of range");
        return std::nullopt;
    }
    return v;
}

std::optional<size_t> CommandContext::choiceArg(size_t i,
                                                std::initializer_list<std::string_view> keywords) {
    if (i >= argCount()) {
        error(scpi_error::kMissingParameter, "Missing parameter");
        return std::nullopt;
    }
    size_t k = 0;
    for (std::string_view kw : keywords) {
        if (KeywordMatches(Unquote(arg(i)), kw)) return k;
        ++k;
    }
    error(scpi_error::kIllegalParameter, "Illegal parameter value");
    return std::nullopt;
}

std::optional<Source> CommandContext::sourceArg(size_t i) {
    if (i >= argCount()) {
        error(scpi_error::kMissingParameter, "Missing parameter");
        return std::nullopt;
    }
    auto s = ParseSource(arg(i));
    if (!s || !state.ValidSource(*s)) {
        error(scpi_error::kIllegalParameter, "Illegal parameter value");
        return std::nullopt;
    }
    return s;
}

std::string CommandContext::keyword(std::string_view scpiKeyword) const {
    return state.longForm ? ToUpper(scpiKeyword) : ShortForm(scpiKeyword);
}

std::string CommandContext::headerPrefix() const {
    if (!state.header || command.common) return {};
    return (state.longForm ? match_.longHeader : match_.shortHeader) + " ";
}

void CommandContext::reply(std::string text) {
    outputs_.push_back({headerPrefix() + text, nullptr, AfterSend::Continue});
}

void CommandContext::replyBlock(std::shared_ptr<const std::string> block, AfterSend after) {
    outputs_.push_back({headerPrefix(), std::move(block), after});
}

void CommandContext::error(int code, std::string_view text) {
    state.PushError(code, text);
}

// ---------------------------------------------------------------- instrument

Instrument::Instrument(ScopeState initial) : state_(std::move(initial)) {
    RegisterSystemCommands(table_);
    RegisterChannelCommands(table_);
    RegisterAcquisitionCommands(table_);
    RegisterWaveformCommands(table_);
    RegisterSimulatorCommands(table_);
    RegisterMeasureCommands(table_);
}

FaultConfig Instrument::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.faults;
}

Response Instrument::Execute(std::string_view message) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Run(message, true);
}

Response Instrument::Run(std::string_view message, bool record) {
    Response response;

    std::vector<ScpiCommand> commands;
    bool syntaxError = false;
    for (const std::string& text : SplitCommands(message)) {
        if (auto c = ParseCommand(text)) {
            commands.push_back(std::move(*c));
        } else {
            syntaxError = true;
        }
    }
    response.simulator = !commands.empty() && !syntaxError &&
                         std::all_of(commands.begin(), commands.end(), IsSimulatorHeader);
    if (record && !response.simulator && !Trim(message).empty())
        state_.Record(std::string(message));
    if (syntaxError) state_.PushError(scpi_error::kSyntax, "Syntax error");

    std::vector<CommandContext::Output> outputs;
    std::vector<Mnemonic> path;  // header path for a following relative command
    for (const ScpiCommand& c : commands) {
        std::optional<CommandTable::Match> match;
        std::vector<Mnemonic> full;
        // A command without a leading colon continues the previous one's
        // header path; the simulator also accepts it at any level further up,
        // down to the root, where a stricter parser would refuse it.
        for (size_t keep = c.rooted || c.common ? 0 : path.size() + 1; keep-- > 0 && !match;) {
            full.assign(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(keep));
            full.insert(full.end(), c.header.begin(), c.header.end());
            match = table_.find(full, c.query);
        }
        if (!match) {
            full = c.header;
            match = table_.find(full, c.query);
        }
        if (!c.common) {
            path = std::move(full);
            path.pop_back();
        }
        if (!match) {
            state_.PushError(scpi_error::kUndefinedHeader, "Undefined header");
            continue;
        }
        // An armed single acquisition ends in its own time, seen by the next command.
        state_.Advance(std::chrono::steady_clock::now());
        CommandContext ctx(state_, cache_, c, *match);
        ctx.replay = [this](std::string_view nested) { Run(nested, false); };
        (*match->handler)(ctx);
        response.identification = response.identification || ctx.identification();
        for (auto& o : ctx.outputs()) outputs.push_back(std::move(o));
    }

    if (outputs.empty()) return response;
    // Replies of one message are joined with ";" and end with one line feed.
    std::string text;
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (i > 0) text += ';';
        text += outputs[i].text;
        if (outputs[i].block) {
            if (!text.empty())
                response.parts.push_back({std::make_shared<const std::string>(std::move(text)),
                                          false, AfterSend::Continue});
            text.clear();
            response.parts.push_back({outputs[i].block, true, outputs[i].after});
            // Nothing of the message goes out after a connection ends.
            if (outputs[i].after != AfterSend::Continue) return response;
        }
    }
    text += '\n';
    response.parts.push_back(
        {std::make_shared<const std::string>(std::move(text)), false, AfterSend::Continue});
    return response;
}

}  // namespace cvn::sim
