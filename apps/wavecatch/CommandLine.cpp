// Option parsing and value conversion for the wavecatch commands.
#include "apps/wavecatch/CommandLine.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>

#include "automation/Array.h"
#include "automation/Convert.h"

namespace cvn::host {

using automation::Variant;

std::string ParsedArgs::value(const std::string& option, const std::string& def) const {
    auto it = values.find(option);
    return it == values.end() ? def : it->second;
}

std::vector<std::string> ParsedArgs::all(const std::string& option) const {
    auto it = repeated.find(option);
    return it == repeated.end() ? std::vector<std::string>{} : it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& valueOptions,
                     const std::set<std::string>& flagOptions) {
    ParsedArgs p;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            if (a == "--") {
                optionsDone = true;
                continue;
            }
            p.operands.push_back(a);
            continue;
        }
        std::string name = a;
        std::string inlineValue;
        bool hasInline = false;
        if (const size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            inlineValue = a.substr(eq + 1);
            hasInline = true;
        }
        if (valueOptions.count(name)) {
            if (hasInline) {
                p.values[name] = inlineValue;
            } else if (i + 1 < args.size()) {
                p.values[name] = args[++i];
            } else {
                throw UsageError(name + " needs a value");
            }
            p.repeated[name].push_back(p.values[name]);
        } else if (flagOptions.count(name) && !hasInline) {
            p.flags.insert(name);
        } else {
            throw UsageError("unknown option " + a);
        }
    }
    return p;
}

Variant ParseValue(const std::string& text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "true") return Variant(true);
    if (lower == "false") return Variant(false);
    int64_t whole = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto r = std::from_chars(first, last, whole);
    if (r.ec == std::errc() && r.ptr == last && first != last &&
        whole >= std::numeric_limits<int32_t>::min() &&
        whole <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(whole));
    if (auto number = automation::parseNumber(text)) return Variant(*number);
    return Variant(text);
}

void PrintValue(std::ostream& out, const Variant& value) {
    if (value.isEmpty()) return;
    if (value.isArray()) {
        const automation::Array& a = value.array();
        for (int32_t i = a.lowerBound(); i <= a.upperBound(); ++i) {
            const Variant element = a.get(i);
            // Every element gets its line, so line numbers stay indices.
            if (element.isEmpty())
                out << "\n";
            else
                PrintValue(out, element);
        }
        return;
    }
    if (value.isObject()) {
        out << (value.toObject() ? "<object>" : "Nothing") << "\n";
        return;
    }
    out << value.toString() << "\n";
}

}  // namespace cvn::host
