// The simulator's command dictionary.
#include "sim/instrument/CommandTable.h"

#include <cctype>
#include <stdexcept>

namespace cvn::sim {

void CommandTable::add(std::string_view pattern, Handler handler) {
    Entry e;
    e.handler = std::move(handler);
    std::string_view p = pattern;
    if (!p.empty() && p.back() == '?') {
        e.query = true;
        p.remove_suffix(1);
    }
    size_t i = 0;
    while (i < p.size()) {
        bool optional = false;
        if (p[i] == '[') {
            optional = true;
            ++i;
        }
        if (i < p.size() && p[i] == ':') ++i;
        size_t end = i;
        while (end < p.size() && p[end] != ':' && p[end] != '[' && p[end] != ']') ++end;
        std::string_view name = p.substr(i, end - i);
        i = end;
        if (optional) {
            if (i >= p.size() || p[i] != ']')
                throw std::invalid_argument("unclosed [ in " + std::string(pattern));
            ++i;
        }
        Node n;
        n.optional = optional;
        if (!name.empty() && name.back() == '#') {
            n.numeric = true;
            name.remove_suffix(1);
        }
        if (name.empty()) throw std::invalid_argument("empty node in " + std::string(pattern));
        n.longName = ToUpper(name);
        n.shortName = ShortForm(name);
        e.nodes.push_back(std::move(n));
    }
    if (e.nodes.empty()) throw std::invalid_argument("empty pattern");
    entries_.push_back(std::move(e));
}

bool CommandTable::MatchNodes(const std::vector<Node>& nodes, size_t ni,
                              const std::vector<Mnemonic>& header, size_t hi,
                              std::vector<const Node*>& used,
                              std::vector<std::optional<int>>& sfx) {
    if (ni == nodes.size()) return hi == header.size();
    const Node& n = nodes[ni];
    if (hi < header.size()) {
        const Mnemonic& m = header[hi];
        const bool nameOk = m.name == n.shortName || m.name == n.longName;
        if (nameOk && (n.numeric || !m.suffix)) {
            used.push_back(&n);
            sfx.push_back(m.suffix);
            if (MatchNodes(nodes, ni + 1, header, hi + 1, used, sfx)) return true;
            used.pop_back();
            sfx.pop_back();
        }
    }
    return n.optional && MatchNodes(nodes, ni + 1, header, hi, used, sfx);
}

std::optional<CommandTable::Match> CommandTable::find(const std::vector<Mnemonic>& header,
                                                      bool query) const {
    for (const Entry& e : entries_) {
        if (e.query != query) continue;
        std::vector<const Node*> used;
        std::vector<std::optional<int>> sfx;
        if (!MatchNodes(e.nodes, 0, header, 0, used, sfx)) continue;
        Match m;
        m.handler = &e.handler;
        const bool common = e.nodes.front().longName.front() == '*';
        for (size_t k = 0; k < used.size(); ++k) {
            std::string suffix;
            if (used[k]->numeric) {
                const int s = sfx[k].value_or(1);
                m.suffixes.push_back(s);
                suffix = std::to_string(s);
            }
            const std::string sep = common ? "" : ":";
            m.shortHeader += sep + used[k]->shortName + suffix;
            m.longHeader += sep + used[k]->longName + suffix;
        }
        return m;
    }
    return std::nullopt;
}

}  // namespace cvn::sim
