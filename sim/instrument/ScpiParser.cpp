// SCPI text handling for the simulator.
#include "sim/instrument/ScpiParser.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cvn::sim {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// Walks `s` and calls `cut(i)` at every separator outside quotes and
// definite-length blocks.
template <typename Cut>
void ScanSeparators(std::string_view s, char separator, Cut cut) {
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"' || c == '\'') {
            const size_t end = s.find(c, i + 1);
            i = end == std::string_view::npos ? s.size() : end + 1;
            continue;
        }
        if (c == '#' && i + 1 < s.size() && IsDigit(s[i + 1]) && s[i + 1] != '0') {
            const size_t digits = static_cast<size_t>(s[i + 1] - '0');
            size_t len = 0;
            bool ok = i + 2 + digits <= s.size();
            for (size_t k = 0; ok && k < digits; ++k) {
                ok = IsDigit(s[i + 2 + k]);
                if (ok) len = len * 10 + static_cast<size_t>(s[i + 2 + k] - '0');
            }
            if (ok) {
                i = std::min(s.size(), i + 2 + digits + len);
                continue;
            }
        }
        if (c == separator) cut(i);
        ++i;
    }
}

}  // namespace

// ---------------------------------------------------------------- framing

void MessageFramer::feed(const char* data, size_t size) {
    buf_.append(data, size);
}

bool MessageFramer::takeOverflow() {
    const bool o = overflow_;
    overflow_ = false;
    return o;
}

void MessageFramer::reset() {
    pos_ = 0;
    scan_ = Scan::Text;
    quote_ = 0;
    lengthDigits_ = 0;
    blockLeft_ = 0;
    blockEnded_ = false;
}

std::optional<std::string> MessageFramer::next() {
    while (pos_ < buf_.size()) {
        const char c = buf_[pos_];
        switch (scan_) {
            case Scan::Text:
                blockEnded_ = false;
                if (c == '\n' && pos_ == 0 && afterBlock_) {
                    // The terminator of a message already handed out when
                    // its block ended.
                    buf_.erase(0, 1);
                    afterBlock_ = false;
                    continue;
                }
                afterBlock_ = false;
                if (c == '\n') {
                    std::string message = buf_.substr(0, pos_);
                    buf_.erase(0, pos_ + 1);
                    reset();
                    return message;
                }
                if (c == '"' || c == '\'') {
                    scan_ = Scan::Quote;
                    quote_ = c;
                } else if (c == '#') {
                    scan_ = Scan::BlockDigits;
                }
                ++pos_;
                break;
            case Scan::Quote:
                if (c == quote_) scan_ = Scan::Text;
                ++pos_;
                break;
            case Scan::BlockDigits:
                if (IsDigit(c) && c != '0') {
                    lengthDigits_ = c - '0';
                    blockLeft_ = 0;
                    scan_ = Scan::BlockLength;
                    ++pos_;
                } else {
                    // "#0" (ends at the line feed) or not a block at all:
                    // look at this byte again as plain text.
                    scan_ = Scan::Text;
                    if (c == '0') ++pos_;
                }
                break;
            case Scan::BlockLength:
                if (!IsDigit(c)) {
                    scan_ = Scan::Text;  // malformed header: plain text again
                    break;
                }
                blockLeft_ = blockLeft_ * 10 + static_cast<size_t>(c - '0');
                ++pos_;
                if (--lengthDigits_ == 0) {
                    if (blockLeft_ > kMaxMessage) {
                        overflow_ = true;
                        buf_.clear();
                        reset();
                        return std::nullopt;
                    }
                    scan_ = blockLeft_ == 0 ? Scan::Text : Scan::BlockData;
                    blockEnded_ = blockLeft_ == 0;
                }
                break;
            case Scan::BlockData: {
                const size_t take = std::min(blockLeft_, buf_.size() - pos_);
                pos_ += take;
                blockLeft_ -= take;
                if (blockLeft_ == 0) {
                    scan_ = Scan::Text;
                    blockEnded_ = true;
                }
                break;
            }
        }
    }
    if (blockEnded_ && scan_ == Scan::Text) {
        std::string message = std::move(buf_);
        buf_.clear();
        reset();
        afterBlock_ = true;
        return message;
    }
    if (buf_.size() > kMaxMessage) {
        overflow_ = true;
        buf_.clear();
        reset();
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- parsing

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string ToUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Upper(c);
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

std::string Unquote(std::string_view s) {
    s = Trim(s);
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
        return std::string(s.substr(1, s.size() - 2));
    }
    return std::string(s);
}

std::vector<std::string> SplitCommands(std::string_view message) {
    std::vector<std::string> out;
    size_t start = 0;
    auto add = [&](size_t end) {
        const std::string_view part = Trim(message.substr(start, end - start));
        if (!part.empty()) out.emplace_back(part);
        start = end + 1;
    };
    ScanSeparators(message, ';', add);
    add(message.size());
    return out;
}

std::vector<std::string> SplitArguments(std::string_view params) {
    std::vector<std::string> out;
    params = Trim(params);
    if (params.empty()) return out;
    size_t start = 0;
    auto add = [&](size_t end) {
        out.emplace_back(Trim(params.substr(start, end - start)));
        start = end + 1;
    };
    ScanSeparators(params, ',', add);
    add(params.size());
    return out;
}

std::optional<ScpiCommand> ParseCommand(std::string_view text) {
    ScpiCommand cmd;
    text = Trim(text);
    cmd.text = std::string(text);
    size_t i = 0;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    std::string_view header = text.substr(0, i);
    const std::string_view params = text.substr(i);
    if (header.empty()) return std::nullopt;
    if (header.back() == '?') {
        cmd.query = true;
        header.remove_suffix(1);
    }
    if (!header.empty() && header.front() == '*') {
        cmd.common = true;
        std::string name = ToUpper(header);
        if (name.size() < 2 || !std::all_of(name.begin() + 1, name.end(), [](char c) {
                return std::isalpha(static_cast<unsigned char>(c));
            })) {
            return std::nullopt;
        }
        cmd.header.push_back({std::move(name), std::nullopt});
    } else {
        if (!header.empty() && header.front() == ':') {
            cmd.rooted = true;
            header.remove_prefix(1);
        }
        size_t start = 0;
        while (true) {
            const size_t colon = header.find(':', start);
            const std::string_view part = header.substr(
                start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
            size_t letters = 0;
            while (
                letters < part.size() &&
                (std::isalpha(static_cast<unsigned char>(part[letters])) || part[letters] == '_')) {
                ++letters;
            }
            if (letters == 0) return std::nullopt;
            Mnemonic m{ToUpper(part.substr(0, letters)), std::nullopt};
            const std::string_view digits = part.substr(letters);
            if (!digits.empty()) {
                if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), IsDigit))
                    return std::nullopt;
                m.suffix = std::atoi(std::string(digits).c_str());
            }
            cmd.header.push_back(std::move(m));
            if (colon == std::string_view::npos) break;
            start = colon + 1;
        }
    }
    cmd.args = SplitArguments(params);
    return cmd;
}

// ---------------------------------------------------------------- helpers

std::string ShortForm(std::string_view keyword) {
    std::string s;
    for (char c : keyword) {
        if (std::isupper(static_cast<unsigned char>(c)) || IsDigit(c) || c == '*' || c == '_')
            s += c;
    }
    return s.empty() ? ToUpper(keyword) : s;
}

bool KeywordMatches(std::string_view input, std::string_view keyword) {
    input = Trim(input);
    return EqualsIgnoreCase(input, keyword) || EqualsIgnoreCase(input, ShortForm(keyword));
}

std::optional<int> KeywordSuffix(std::string_view input, std::string_view keyword) {
    input = Trim(input);
    size_t letters = input.size();
    while (letters > 0 && IsDigit(input[letters - 1])) --letters;
    if (!KeywordMatches(input.substr(0, letters), keyword)) return std::nullopt;
    const std::string_view digits = input.substr(letters);
    if (digits.empty()) return 1;
    if (digits.size() > 6) return std::nullopt;
    return std::atoi(std::string(digits).c_str());
}

std::optional<bool> ParseBoolean(std::string_view s) {
    s = Trim(s);
    if (EqualsIgnoreCase(s, "ON")) return true;
    if (EqualsIgnoreCase(s, "OFF")) return false;
    if (const auto v = ParseNumber(s)) return std::lround(*v) != 0;
    return std::nullopt;
}

std::optional<double> ParseNumber(std::string_view s) {
    const std::string text(Trim(s));
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
    // strtod also reads hexadecimal and "inf"; SCPI numbers are decimal.
    if (text.find_first_of("xXnN") != std::string::npos) return std::nullopt;
    return v;
}

std::string FormatReal(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%+.9E", v);
    return buf;
}

std::string BlockHeader(size_t payloadSize) {
    const std::string len = std::to_string(payloadSize);
    return "#" + std::to_string(len.size()) + len;
}

}  // namespace cvn::sim
