// A capture's transfer progress on the host side: the subscription that
// receives it from the add-in module (outside the automation interface),
// and the line `wavecatch capture` keeps on a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "apps/host/AddinLoader.h"

namespace cvn::host {

// source keyword ("CHAN1", "POD1"), bytes received, bytes in all (0 while
// unknown).
using ProgressCallback =
    std::function<void(const std::string& source, size_t received, size_t total)>;

// Receives the module's transfer progress while it lives. A module without
// the entry point gives none.
class ProgressSubscription {
public:
    ProgressSubscription(std::shared_ptr<AddinModule> module, ProgressCallback callback);
    ~ProgressSubscription();
    ProgressSubscription(const ProgressSubscription&) = delete;
    ProgressSubscription& operator=(const ProgressSubscription&) = delete;

private:
    static void forward(void* context, const char* source, uint64_t received, uint64_t total);

    std::shared_ptr<AddinModule> module_;
    ProgressCallback callback_;
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
