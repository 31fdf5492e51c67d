// A transport for the fuzz targets: serves one fixed byte stream in pieces
// whose sizes the fuzz input chooses, and fails at once (time-out or closed
// connection) when the stream is used up instead of waiting for the
// deadline, so that a starved read costs nothing.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "io/IoError.h"
#include "io/Transport.h"

namespace cvn::fuzz {

class ScriptedTransport : public io::Transport {
public:
    // Each cut gives the size of the next piece in its low seven bits (0: all
    // that is left); its top bit marks a message END after the piece on a
    // message-based transport. Cuts are used in turn, over and over.
    ScriptedTransport(std::string stream, std::vector<uint8_t> cuts, bool messageBased,
                      bool closeAtEnd)
        : stream_(std::move(stream)),
          cuts_(std::move(cuts)),
          messageBased_(messageBased),
          closeAtEnd_(closeAtEnd) {}

    void write(const uint8_t*, size_t, io::Deadline) override {}

    size_t read(uint8_t* data, size_t size, io::Deadline, bool& end) override {
        end = false;
        if (pos_ >= stream_.size()) {
            if (closeAtEnd_) throw io::IoError(io::kIoClosed, "the peer closed the connection");
            throw io::IoError(io::kIoTimeout, "no more data");
        }
        if (left_ == 0) startPiece();
        const size_t n = std::min({size, left_, stream_.size() - pos_});
        std::memcpy(data, stream_.data() + pos_, n);
        pos_ += n;
        left_ -= n;
        if (pos_ == stream_.size()) left_ = 0;
        end = messageBased_ && endsMessage_ && left_ == 0;
        return n;
    }

    bool messageBased() const override { return messageBased_; }

private:
    void startPiece() {
        const size_t rest = stream_.size() - pos_;
        if (cuts_.empty()) {
            left_ = rest;
            endsMessage_ = true;
            return;
        }
        const uint8_t cut = cuts_[nextCut_++ % cuts_.size()];
        const size_t size = cut & 0x7f;
        left_ = size == 0 ? rest : std::min(size, rest);
        endsMessage_ = (cut & 0x80) != 0;
    }

    std::string stream_;
    std::vector<uint8_t> cuts_;
    bool messageBased_;
    bool closeAtEnd_;
    size_t pos_ = 0;
    size_t left_ = 0;  // of the current piece
    bool endsMessage_ = false;
    size_t nextCut_ = 0;
};

}  // namespace cvn::fuzz
