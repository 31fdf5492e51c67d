// Raw SCPI queries: the whole reply, as text or as a binary block.
#include "host/bench/Scpi.h"

#include <memory>

namespace cvn::host {

bool IsQuery(std::string_view command) {
    const size_t start = command.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    const size_t end = command.find_first_of(" \t", start);
    return command.substr(start, end - start).find('?') != std::string_view::npos;
}

ScpiReply ParseScpiReply(std::string_view raw) {
    ScpiReply r;
    if (raw.size() >= 2 && raw[0] == '#' && raw[1] >= '0' && raw[1] <= '9') {
        const size_t digits = static_cast<size_t>(raw[1] - '0');
        if (digits == 0) {
            // Indefinite: the data runs to the line feed that ends the message.
            std::string_view data = raw.substr(2);
            if (!data.empty() && data.back() == '\n') data.remove_suffix(1);
            r.block = true;
            r.data = std::string(data);
            return r;
        }
        if (raw.size() >= 2 + digits) {
            size_t length = 0;
            bool number = true;
            for (size_t i = 0; i < digits; ++i) {
                const char c = raw[2 + i];
                if (c < '0' || c > '9') number = false;
                length = length * 10 + static_cast<size_t>(c - '0');
            }
            if (number) {
                r.block = true;
                const std::string_view data = raw.substr(2 + digits);
                r.data = std::string(data.substr(0, std::min(length, data.size())));
                return r;
            }
        }
    }
    r.text = std::string(raw);
    return r;
}

ScpiReply ScpiQuery(io::IoSession& session, const std::string& command) {
    session.Output(command);
    const int term = session.TermChar();
    // Without a terminator the session reads a block whole and a text to its
    // line feed, so one read serves both.
    session.SetTermChar(-1);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kScpiReplyCapacity]);
    size_t count = 0;
    try {
        count = session.ReadBytes(buffer.get(), kScpiReplyCapacity);
    } catch (...) {
        session.SetTermChar(term);
        throw;
    }
    session.SetTermChar(term);
    ScpiReply r =
        ParseScpiReply(std::string_view(reinterpret_cast<const char*>(buffer.get()), count));
    r.cut = count == kScpiReplyCapacity;
    return r;
}

std::string DescribeBlock(std::string_view data) {
    static const char* hex = "0123456789abcdef";
    std::string text = std::to_string(data.size()) + " bytes";
    if (!data.empty()) text += ":";
    for (size_t i = 0; i < data.size() && i < 16; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        text += ' ';
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    if (data.size() > 16) text += " ...";
    return text;
}

}  // namespace cvn::host
