// Command-line plumbing shared by the wavecatch commands: options and
// operands, argument texts turned into automation values, and values
// printed as lines or JSON.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/Variant.h"

namespace cvn::host {

// A command line the user got wrong; the message says what, exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParsedArgs {
    std::map<std::string, std::string> values;  // "--out" -> "DIR" (the last one given)
    std::map<std::string, std::vector<std::string>> repeated;  // every value, in order
    std::set<std::string> flags;                               // "--json"
    std::vector<std::string> operands;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::string value(const std::string& option, const std::string& def = "") const;
    bool hasValue(const std::string& option) const { return values.count(option) != 0; }
    // Every value of an option that may be given more than once.
    std::vector<std::string> all(const std::string& option) const;
};

// Options are recognised anywhere before "--"; everything after it is an
// operand, so negative numbers can follow. "--opt=value" and "--opt value"
// both work. Unknown options throw UsageError.
ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& valueOptions,
                     const std::set<std::string>& flagOptions);

// An argument text as an automation value: Long when integral and in range,
// Double when numeric, Boolean for true/false (any case), else String.
automation::Variant ParseValue(const std::string& text);

// A value as plain output: Empty prints nothing, arrays one element a line,
// everything else its text form (Booleans "True"/"False").
void PrintValue(std::ostream& out, const automation::Variant& value);

}  // namespace cvn::host
