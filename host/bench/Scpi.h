// Raw SCPI for the scpi command and the Python module: a command sent as is,
// the reply of a query read whole, told apart as text or IEEE 488.2 binary
// block, with our I/O library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "io/IoSession.h"

namespace cvn::host {

// Largest reply read by one query.
inline constexpr size_t kScpiReplyCapacity = size_t{64} << 20;

struct ScpiReply {
    bool block = false;
    std::string text;  // a text reply as received, terminator included
    std::string data;  // a block's data, without header and terminator
    bool cut = false;  // the reply filled kScpiReplyCapacity: the rest was dropped
};

// True when the command's header (the text before its first blank) holds
// a "?": the instrument answers it.
bool IsQuery(std::string_view command);

// Sends the command and reads the whole reply (whatever the session's
// terminator, which is put back afterwards). Throws io::IoError.
ScpiReply ScpiQuery(io::IoSession& session, const std::string& command);

// Splits a raw reply into text or block.
ScpiReply ParseScpiReply(std::string_view raw);

// "1024 bytes: 42 4d 36 ..." (the first 16 bytes in hex).
std::string DescribeBlock(std::string_view data);

}  // namespace cvn::host
