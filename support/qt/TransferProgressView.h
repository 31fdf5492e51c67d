// How a waveform transfer's progress reaches people: the host's own
// callback (registered through the module's cvnSetTransferProgress entry
// point) gets every report; hosts with widgets get a progress dialog once a
// block has taken longer than half a second. The dialog has no Cancel (a
// running transfer cannot be stopped) and is redrawn on the spot, without
// running other events, so nothing re-enters the add-in during a read.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class QProgressDialog;

namespace cvn {

using TransferProgressCallback = void (*)(void* context, const char* source, uint64_t received,
                                          uint64_t total);
// nullptr removes the callback. Process-wide, like the host that sets it.
// Setting it also ends a cancellation.
void SetTransferProgressCallback(TransferProgressCallback callback, void* context);
// From then on every report fails its transfer: update() throws cvn::Error
// (the read it reports on fails and its session resynchronises).
void CancelTransfers();

class TransferProgressView {
public:
    TransferProgressView();
    ~TransferProgressView();
    TransferProgressView(const TransferProgressView&) = delete;
    TransferProgressView& operator=(const TransferProgressView&) = delete;

    void update(const std::string& source, size_t received, size_t total);

    // A block slower than this gets the dialog.
    static constexpr std::chrono::milliseconds kShowAfter{500};

private:
    void showDialog(const std::string& source, size_t received, size_t total);
    void hideDialog();

    std::unique_ptr<QProgressDialog> dialog_;
    std::chrono::steady_clock::time_point start_;
    bool inBlock_ = false;
    std::string source_;   // of the block in progress
    size_t received_ = 0;  // its last report
};

}  // namespace cvn
