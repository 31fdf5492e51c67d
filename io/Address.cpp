// Address texts as users type them (VISA-like resource strings, short
// host:port forms, device paths, COM names), parsed into an Address.
// Keywords are case-insensitive; host names and paths keep their case.
#include "io/Address.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

#include "io/IoError.h"
#include "support/Text.h"

namespace cvn::io {
namespace {

constexpr const char* kAcceptedForms =
    "Accepted forms: host:port, host (port 5025), [IPv6]:port, "
    "TCPIP[n]::host::port::SOCKET, TCPIP[n]::host[::name]::INSTR, "
    "USB[n]::vid::pid[::serial][::INSTR], /dev/usbtmcN, ASRL/dev/ttyX[::INSTR], "
    "ASRLn[::INSTR], COMn, /dev/ttyX, GPIB[n]::address[::INSTR].";

[[noreturn]] void bad(std::string_view text, const std::string& why) {
    throw IoError(kIoBadAddress, "Invalid instrument address '" + std::string(text) + "'" +
                                     (why.empty() ? "" : " (" + why + ")") + ". " + kAcceptedForms);
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<unsigned long> parseUnsigned(std::string_view s, int base = 10) {
    if (s.empty()) return std::nullopt;
    unsigned long v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

// "0x1a2b" hexadecimal or plain decimal, as USB ids are written.
std::optional<uint16_t> parseUsbId(std::string_view s) {
    std::optional<unsigned long> v;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        v = parseUnsigned(s.substr(2), 16);
    } else {
        v = parseUnsigned(s, 10);
    }
    if (!v || *v > 0xffff) return std::nullopt;
    return static_cast<uint16_t>(*v);
}

std::optional<uint16_t> parsePort(std::string_view s) {
    auto v = parseUnsigned(s);
    if (!allDigits(s) || !v || *v == 0 || *v > 65535) return std::nullopt;
    return static_cast<uint16_t>(*v);
}

// Splits at "::" but not inside [brackets], so TCPIP::[fe80::1]::5025::SOCKET
// keeps its IPv6 host whole.
std::vector<std::string_view> splitParts(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '[') ++depth;
        if (s[i] == ']' && depth > 0) --depth;
        if (depth == 0 && s[i] == ':' && i + 1 < s.size() && s[i + 1] == ':') {
            parts.push_back(s.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    parts.push_back(s.substr(start));
    return parts;
}

bool isHostName(std::string_view h) {
    return !h.empty() && std::all_of(h.begin(), h.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    });
}

bool isIpv6Literal(std::string_view h) {
    return std::count(h.begin(), h.end(), ':') >= 2 && std::all_of(h.begin(), h.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.' ||
                      c == '%';
           });
}

// A host as written inside an address: name, IPv4, or [IPv6] in brackets.
std::optional<std::string> parseHost(std::string_view h) {
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') {
        auto inner = h.substr(1, h.size() - 2);
        if (isIpv6Literal(inner)) return std::string(inner);
        return std::nullopt;
    }
    if (isHostName(h)) return std::string(h);
    return std::nullopt;
}

// "TCPIP", "TCPIP0", "USB1": the keyword followed by an optional board
// number and nothing else.
std::optional<int> keywordBoard(std::string_view partUpper, std::string_view keyword) {
    if (partUpper.substr(0, keyword.size()) != keyword) return std::nullopt;
    auto rest = partUpper.substr(keyword.size());
    if (rest.empty()) return 0;
    auto v = parseUnsigned(rest);
    if (!allDigits(rest) || !v || *v > 1000) return std::nullopt;
    return static_cast<int>(*v);
}

std::string serialPathForComNumber(std::string_view text, std::string_view digits) {
    auto n = parseUnsigned(digits);
    if (!allDigits(digits) || !n || *n < 1 || *n > 256) bad(text, "COM port number must be 1-256");
    return "/dev/ttyS" + std::to_string(*n - 1);
}

// Drops a final "::INSTR" so the forms that allow it can ignore it.
bool stripInstr(std::vector<std::string_view>& parts) {
    if (parts.size() > 1 && ToUpperAscii(parts.back()) == "INSTR") {
        parts.pop_back();
        return true;
    }
    return false;
}

Address parseTcpip(std::string_view text, std::vector<std::string_view> parts, int board) {
    Address a;
    a.board = board;
    if (parts.size() < 2) bad(text, "host missing");
    auto host = parseHost(parts[1]);
    if (!host) bad(text, "bad host name '" + std::string(parts[1]) + "'");
    a.host = *host;
    std::string last = ToUpperAscii(parts.back());
    if (last == "SOCKET") {
        if (parts.size() != 4) bad(text, "a SOCKET address needs host and port");
        auto port = parsePort(parts[2]);
        if (!port) bad(text, "port must be 1-65535");
        a.bus = Bus::Socket;
        a.port = *port;
        return a;
    }
    stripInstr(parts);
    if (parts.size() > 3) bad(text, "too many fields");
    a.bus = Bus::Vxi11;
    a.deviceName = parts.size() == 3 ? std::string(parts[2]) : "inst0";
    if (a.deviceName.empty() || !isHostName(a.deviceName)) bad(text, "bad device name");
    return a;
}

Address parseUsb(std::string_view text, std::vector<std::string_view> parts, int board) {
    stripInstr(parts);
    if (parts.size() < 3 || parts.size() > 4) bad(text, "USB needs vendor and product id");
    auto vid = parseUsbId(parts[1]);
    auto pid = parseUsbId(parts[2]);
    if (!vid || !pid) bad(text, "USB ids are 0x0000-0xFFFF");
    Address a;
    a.bus = Bus::Usbtmc;
    a.board = board;
    a.vendorId = *vid;
    a.productId = *pid;
    if (parts.size() == 4) a.serialNumber = std::string(parts[3]);
    return a;
}

Address parseGpib(std::string_view text, std::vector<std::string_view> parts, int board) {
    stripInstr(parts);
    if (parts.size() != 2) bad(text, "GPIB needs one primary address");
    auto primary = parseUnsigned(parts[1]);
    if (!allDigits(parts[1]) || !primary || *primary > 30) bad(text, "GPIB address must be 0-30");
    Address a;
    a.bus = Bus::Gpib;
    a.board = board;
    a.gpibPrimary = static_cast<int>(*primary);
    return a;
}

Address parseAsrl(std::string_view text, std::vector<std::string_view> parts) {
    stripInstr(parts);
    if (parts.size() != 1) bad(text, "too many fields");
    auto rest = parts[0].substr(4);
    Address a;
    a.bus = Bus::Serial;
    if (!rest.empty() && rest.front() == '/') {
        a.devicePath = std::string(rest);
    } else {
        // ASRL1 is the first serial port, like COM1.
        a.devicePath = serialPathForComNumber(text, rest);
    }
    return a;
}

// "COM3", "com3", "COM3::INSTR": the COM name as the whole address or as one
// "::" field of it.
std::optional<std::string_view> comDigits(const std::vector<std::string_view>& parts) {
    for (auto p : parts) {
        std::string u = ToUpperAscii(p);
        if (u.size() > 3 && u.compare(0, 3, "COM") == 0 && allDigits(std::string_view(u).substr(3)))
            return p.substr(3);
    }
    return std::nullopt;
}

}  // namespace

Address parseAddress(std::string_view text) {
    // Device paths go to open(2) as C strings: a NUL would silently cut them
    // to the name of some other device.
    if (text.find('\0') != std::string_view::npos) bad(text, "contains a NUL character");
    auto b = text.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) bad(text, "empty");
    auto e = text.find_last_not_of(" \t\r\n");
    std::string_view t = text.substr(b, e - b + 1);

    if (t.front() == '/') {
        Address a;
        a.devicePath = std::string(t);
        a.bus = t.substr(0, 11) == "/dev/usbtmc" ? Bus::Usbtmc : Bus::Serial;
        if (a.bus == Bus::Usbtmc && !allDigits(t.substr(11))) bad(text, "expected /dev/usbtmcN");
        return a;
    }

    auto parts = splitParts(t);
    std::string head = ToUpperAscii(parts[0]);
    if (parts.size() > 1 || head.substr(0, 4) == "ASRL") {
        if (auto board = keywordBoard(head, "TCPIP")) return parseTcpip(text, parts, *board);
        if (auto board = keywordBoard(head, "USB")) return parseUsb(text, parts, *board);
        if (auto board = keywordBoard(head, "GPIB")) return parseGpib(text, parts, *board);
        if (head.substr(0, 4) == "ASRL") return parseAsrl(text, parts);
    }
    if (auto digits = comDigits(parts)) {
        Address a;
        a.bus = Bus::Serial;
        a.devicePath = serialPathForComNumber(text, *digits);
        return a;
    }
    if (parts.size() > 1 && !isIpv6Literal(t)) bad(text, "unknown keyword '" + head + "'");

    // Short socket forms: host, host:port, [v6], [v6]:port, bare v6.
    Address a;
    a.bus = Bus::Socket;
    std::string_view hostPart = t;
    std::string_view portPart;
    if (t.front() == '[') {
        auto close = t.find(']');
        if (close == std::string_view::npos) bad(text, "missing ']'");
        hostPart = t.substr(0, close + 1);
        auto rest = t.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') bad(text, "expected ':' after ']'");
            portPart = rest.substr(1);
            if (portPart.empty()) bad(text, "port missing after ':'");
        }
    } else if (isIpv6Literal(t)) {
        a.host = std::string(t);
        return a;
    } else if (auto colon = t.find(':'); colon != std::string_view::npos) {
        hostPart = t.substr(0, colon);
        portPart = t.substr(colon + 1);
        if (portPart.empty()) bad(text, "port missing after ':'");
    }
    auto host = parseHost(hostPart);
    if (!host) bad(text, "bad host name '" + std::string(hostPart) + "'");
    a.host = *host;
    if (!portPart.empty()) {
        auto port = parsePort(portPart);
        if (!port) bad(text, "port must be 1-65535");
        a.port = *port;
    }
    return a;
}

}  // namespace cvn::io
