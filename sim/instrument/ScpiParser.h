// SCPI text handling for the simulator: cutting the byte stream into program
// messages, messages into commands, commands into header and arguments, and
// the small keyword/number helpers that command handlers share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvn::sim {

// Cuts a received byte stream into program messages. A message ends at a line
// feed outside quoted strings and definite-length blocks, or right after a
// definite-length block when nothing follows it yet (setup data is written
// without a terminator). The terminator is not part of the message; a
// carriage return before it is kept, so the log shows exactly what came in.
class MessageFramer {
public:
    // Longest message accepted; longer input is dropped and reported.
    static constexpr size_t kMaxMessage = 64u << 20;

    void feed(const char* data, size_t size);
    // Next complete message, if any.
    std::optional<std::string> next();
    // True once (and cleared) when input beyond kMaxMessage was dropped.
    bool takeOverflow();

private:
    enum class Scan { Text, Quote, BlockDigits, BlockLength, BlockData };
    void reset();

    std::string buf_;
    size_t pos_ = 0;  // scanned up to here
    Scan scan_ = Scan::Text;
    char quote_ = 0;
    int lengthDigits_ = 0;
    size_t blockLeft_ = 0;
    bool blockEnded_ = false;  // the last byte scanned closed a block
    bool afterBlock_ = false;  // a message was handed out at a block's end
    bool overflow_ = false;
};

// One header element: letters upper-cased, with its numeric suffix if any
// ("CHANnel2" -> {"CHANNEL", 2}).
struct Mnemonic {
    std::string name;
    std::optional<int> suffix;
};

struct ScpiCommand {
    std::string text;               // the command as received, trimmed
    bool rooted = false;            // began with ":"
    bool common = false;            // "*IDN?" and friends
    bool query = false;             // header ended with "?"
    std::vector<Mnemonic> header;   // empty only when parsing failed
    std::vector<std::string> args;  // trimmed, quotes kept
};

// Splits a message at ";" outside quotes and blocks; parts are trimmed and
// empty parts dropped.
std::vector<std::string> SplitCommands(std::string_view message);
// Parses one command. Nothing when the header is malformed.
std::optional<ScpiCommand> ParseCommand(std::string_view text);
// Splits a parameter list at "," outside quotes and blocks; parts trimmed.
std::vector<std::string> SplitArguments(std::string_view params);

std::string_view Trim(std::string_view s);
std::string ToUpper(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Removes one level of matching single or double quotes.
std::string Unquote(std::string_view s);

// True when `input` is the short or the long form of a keyword written in
// SCPI notation ("MSBFirst" accepts "MSBF" and "MSBFIRST", any case).
bool KeywordMatches(std::string_view input, std::string_view keyword);
// Like KeywordMatches for keywords with a numeric suffix ("CHANnel" accepts
// "CHAN3", "channel3" and "CHAN" meaning 1); gives the suffix.
std::optional<int> KeywordSuffix(std::string_view input, std::string_view keyword);
// ON/OFF/1/0 (any number: non-zero is true).
std::optional<bool> ParseBoolean(std::string_view s);
// A decimal number in any SCPI numeric form ("1e3", "+2.5E-06").
std::optional<double> ParseNumber(std::string_view s);
// The short form of a keyword ("MSBFirst" -> "MSBF").
std::string ShortForm(std::string_view keyword);

// Formats a real number the way the instrument does ("+1.000000E-03").
std::string FormatReal(double v);
// The IEEE 488.2 definite-length block header for a payload size ("#41000").
std::string BlockHeader(size_t payloadSize);

}  // namespace cvn::sim
