// A capture's transfer progress on the host side: the subscription that
// receives it from the add-in module (outside the automation interface),
// and the line `wavecatch capture` keeps on a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/AddinLoader.h"

namespace cvn::host {

// source keyword ("CHAN1", "POD1"), bytes received, bytes in all (0 while
// unknown).
using ProgressCallback =
    std::function<void(const std::string& source, size_t received, size_t total)>;

// One source's data block as its progress reports told it: the source
// keyword the add-in named (" Channel2", " POD1"), the bytes of the last
// report and the block's declared size (0 for an indefinite block).
struct BlockTransfer {
    std::string source;
    size_t received = 0;
    size_t total = 0;
    size_t reports = 0;
};

// The transfers of one capture, in the order the add-in read them. A
// report for another source, or one after a definite block was complete,
// starts the next transfer; a read that failed before its block began
// leaves no transfer at all.
class TransferLog {
public:
    void add(const std::string& source, size_t received, size_t total);
    const std::vector<BlockTransfer>& transfers() const { return transfers_; }

private:
    std::vector<BlockTransfer> transfers_;
};

// Receives the module's transfer progress while it lives. A module without
// the entry point gives none (subscribed() is false then).
class ProgressSubscription {
public:
    ProgressSubscription(std::shared_ptr<AddinModule> module, ProgressCallback callback);
    ~ProgressSubscription();
    bool subscribed() const { return subscribed_; }
    ProgressSubscription(const ProgressSubscription&) = delete;
    ProgressSubscription& operator=(const ProgressSubscription&) = delete;

private:
    static void forward(void* context, const char* source, uint64_t received, uint64_t total);

    std::shared_ptr<AddinModule> module_;
    ProgressCallback callback_;
    bool subscribed_ = false;
};

// One line per data set on a terminal: source, MB received of total, MB/s
// and time left, redrawn in place with \r at most ten times a second. A
// block that ends within half a second leaves nothing.
class ProgressLine {
public:
    explicit ProgressLine(int fd) : fd_(fd) {}
    void update(const std::string& source, size_t received, size_t total);

    static constexpr std::chrono::milliseconds kShowAfter{500};
    static constexpr std::chrono::milliseconds kRedrawEvery{100};

private:
    void draw(const std::string& source, size_t received, size_t total, bool last);

    int fd_;
    bool inBlock_ = false;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, drawn_;
};

}  // namespace cvn::host
