// The simulator's command dictionary: headers written in SCPI notation
// (":WAVeform:POINts:MODE?", ":CHANnel#:DISPlay", ":OPERegister[:CONDition]?")
// mapped to handlers, matched against parsed commands by short or long form.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/instrument/ScpiParser.h"

namespace cvn::sim {

class CommandContext;

class CommandTable {
public:
    using Handler = std::function<void(CommandContext&)>;

    struct Match {
        const Handler* handler = nullptr;
        std::vector<int> suffixes;  // one per "#" node, 1 when the input had none
        std::string shortHeader;    // ":WAV:POIN" with the suffixes filled in
        std::string longHeader;     // ":WAVEFORM:POINTS"
    };

    // Pattern syntax: nodes separated by ":", the leading ":" optional,
    // upper-case letters give the short form, a trailing "#" takes a numeric
    // suffix, "[:NODE]" is an optional node, a final "?" makes it a query.
    // Throws std::invalid_argument for a malformed pattern.
    void add(std::string_view pattern, Handler handler);
    // Finds the handler for a header (query flag included).
    std::optional<Match> find(const std::vector<Mnemonic>& header, bool query) const;

private:
    struct Node {
        std::string shortName;
        std::string longName;
        bool numeric = false;
        bool optional = false;
    };
    struct Entry {
        std::vector<Node> nodes;
        bool query = false;
        Handler handler;
    };
    static bool MatchNodes(const std::vector<Node>& nodes, size_t ni,
                           const std::vector<Mnemonic>& header, size_t hi,
                           std::vector<const Node*>& used, std::vector<std::optional<int>>& sfx);

    std::vector<Entry> entries_;
};

}  // namespace cvn::sim
