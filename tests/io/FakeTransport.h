// A scripted transport for session tests: hands out prepared chunks one read
// at a time, then either closes or stays silent until the deadline. A chunk
// can arrive late: delayMs after the chunk before it was taken. With
// `nextLinks` set it can be connected again, and each new link serves the
// next script; what the old link had not handed out is gone.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/IoError.h"
#include "io/Transport.h"

namespace cvn::io::test {

struct Chunk {
    std::string bytes;
    bool end = false;  // message END after this chunk (message-based only)
    int delayMs = 0;   // arrives this long after the previous chunk was read
};

class FakeTransport : public Transport {
public:
    enum class AtEnd { Silent, Close };

    FakeTransport(std::vector<Chunk> chunks, AtEnd atEnd, bool messageBased = false)
        : chunks_(chunks.begin(), chunks.end()),
          atEnd_(atEnd),
          messageBased_(messageBased),
          since_(Clock::now()) {}

    void write(const uint8_t* data, size_t size, Deadline) override {
        written.append(reinterpret_cast<const char*>(data), size);
    }

    size_t read(uint8_t* data, size_t size, Deadline deadline, bool& end) override {
        end = false;
        while (!chunks_.empty() && chunks_.front().bytes.empty() && !chunks_.front().end) {
            chunks_.pop_front();
        }
        if (chunks_.empty()) {
            if (atEnd_ == AtEnd::Close) throw IoError(kIoClosed, "peer closed");
            std::this_thread::sleep_until(deadline);
            throw IoError(kIoTimeout, "no data");
        }
        Chunk& c = chunks_.front();
        if (c.delayMs > 0) {
            const auto ready = since_ + std::chrono::milliseconds(c.delayMs);
            if (ready > deadline) {
                std::this_thread::sleep_until(deadline);
                throw IoError(kIoTimeout, "no data yet");
            }
            std::this_thread::sleep_until(ready);
            c.delayMs = 0;
        }
        size_t n = std::min(size, c.bytes.size());
        std::memcpy(data, c.bytes.data(), n);
        c.bytes.erase(0, n);
        if (c.bytes.empty()) {
            end = c.end;
            chunks_.pop_front();
            since_ = Clock::now();
        }
        return n;
    }

    bool messageBased() const override { return messageBased_; }

    bool reconnect(Deadline) override {
        if (!nextLinks) return false;
        ++reconnects;
        chunks_.clear();
        if (!nextLinks->empty()) {
            chunks_.assign(nextLinks->front().begin(), nextLinks->front().end());
            nextLinks->erase(nextLinks->begin());
        }
        since_ = Clock::now();
        return true;
    }

    std::string written;
    std::optional<std::vector<std::vector<Chunk>>> nextLinks;  // unset: no reconnecting
    int reconnects = 0;

private:
    std::deque<Chunk> chunks_;
    AtEnd atEnd_;
    bool messageBased_;
    Clock::time_point since_;
};

// Every way to cut `reply` in two, plus one byte per read: the boundaries
// where readers that track offsets wrongly go astray.
inline std::vector<std::vector<Chunk>> everySplit(const std::string& reply) {
    std::vector<std::vector<Chunk>> out;
    out.push_back({{reply}});
    for (size_t k = 1; k < reply.size(); ++k) {
        out.push_back({{reply.substr(0, k)}, {reply.substr(k)}});
    }
    std::vector<Chunk> bytes;
    for (char c : reply) bytes.push_back({std::string(1, c)});
    out.push_back(bytes);
    return out;
}

}  // namespace cvn::io::test
