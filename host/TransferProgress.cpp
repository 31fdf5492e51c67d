// Transfer progress from the add-in module to the host's display.
#include "host/TransferProgress.h"

#include <unistd.h>

#include <cstdio>

namespace cvn::host {

ProgressSubscription::ProgressSubscription(std::shared_ptr<AddinModule> module,
                                           ProgressCallback callback)
    : module_(std::move(module)), callback_(std::move(callback)) {
    if (module_ && callback_) subscribed_ = module_->setTransferProgress(&forward, this);
}

ProgressSubscription::~ProgressSubscription() {
    if (subscribed_) module_->setTransferProgress(nullptr, nullptr);
}

void TransferLog::add(const std::string& source, size_t received, size_t total) {
    bool next = transfers_.empty();
    if (!next) {
        const BlockTransfer& last = transfers_.back();
        // A block's reports only grow and end with received == total; an
        // indefinite block's total is 0 until that end gives its size.
        const bool endOfIndefinite = last.total == 0 && total == received;
        next = last.source != source || (last.total != total && !endOfIndefinite) ||
               (last.total > 0 && last.received >= last.total) || received < last.received;
    }
    if (next) transfers_.push_back({source, 0, total, 0});
    BlockTransfer& t = transfers_.back();
    t.received = received;
    t.total = total;
    ++t.reports;
}

void ProgressSubscription::forward(void* context, const char* source, uint64_t received,
                                   uint64_t total) {
    // Nothing may unwind into the module's read loop.
    try {
        static_cast<ProgressSubscription*>(context)->callback_(source, received, total);
    } catch (...) {
    }
}

void ProgressLine::update(const std::string& source, size_t received, size_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (!inBlock_) {
        inBlock_ = true;
        shown_ = false;
        start_ = now;
    }
    const bool last = total > 0 && received >= total;
    if ((shown_ || now - start_ >= kShowAfter) && (last || now - drawn_ >= kRedrawEvery)) {
        draw(source, received, total, last);
        shown_ = true;
        drawn_ = now;
    }
    if (last) inBlock_ = false;
}

void ProgressLine::draw(const std::string& source, size_t received, size_t total, bool last) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? received / seconds : 0;
    char text[160];
    int n;
    if (total > 0) {
        const double left = rate > 0 ? (total - received) / rate : 0;
        n = std::snprintf(text, sizeof text, "\r%-6s %8.1f of %.1f MB  %7.1f MB/s  %5.1f s left%s",
                          source.c_str(), received / 1e6, total / 1e6, rate / 1e6, left,
                          last ? "\n" : "");
    } else {
        n = std::snprintf(text, sizeof text, "\r%-6s %8.1f MB  %7.1f MB/s", source.c_str(),
                          received / 1e6, rate / 1e6);
    }
    if (n > 0) (void)!::write(fd_, text, static_cast<size_t>(std::min<int>(n, sizeof text - 1)));
}

}  // namespace cvn::host
