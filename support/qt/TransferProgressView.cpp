// Transfer progress: the host's callback and the progress dialog.
#include "support/qt/TransferProgressView.h"

#include <QApplication>
#include <QProgressDialog>
#include <QThread>
#include <atomic>
#include <cstdio>

#include "support/Error.h"

namespace cvn {
namespace {

std::atomic<TransferProgressCallback> gCallback{nullptr};
std::atomic<void*> gContext{nullptr};
std::atomic<bool> gCancelled{false};
constexpr int32_t kUserInterrupt = 18;  // the automation runtime's "user interrupt"

bool widgetsHere() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

void SetTransferProgressCallback(TransferProgressCallback callback, void* context) {
    gCallback = nullptr;
    gContext = context;
    gCancelled = false;
    gCallback = callback;
}

void CancelTransfers() {
    gCancelled = true;
}

TransferProgressView::TransferProgressView() = default;
TransferProgressView::~TransferProgressView() {
    // A widget must not be deleted after its application is gone (the
    // services outlive it in a host that ends without releasing them).
    if (!QCoreApplication::instance()) (void)dialog_.release();
}

void TransferProgressView::update(const std::string& source, size_t received, size_t total) {
    if (const TransferProgressCallback callback = gCallback)
        callback(gContext, source.c_str(), received, total);
    if (gCancelled) {
        inBlock_ = false;
        hideDialog();
        throw Error(kUserInterrupt, "The transfer of " + source + " was cancelled", "cvnWCHalv");
    }

    const auto now = std::chrono::steady_clock::now();
    // A report for another source, or one that went back, belongs to a new
    // block: the one before ended without its last report (it failed).
    if (inBlock_ && (source != source_ || received < received_)) hideDialog();
    if (!inBlock_ || source != source_ || received < received_) {
        inBlock_ = true;
        start_ = now;
        source_ = source;
    }
    received_ = received;
    // Only a block's last report has received == total; for a "#0" block
    // that is where its size becomes known.
    const bool done = received == total;
    if (!done && now - start_ >= kShowAfter && widgetsHere()) showDialog(source, received, total);
    if (done) {
        inBlock_ = false;
        hideDialog();
    }
}

void TransferProgressView::showDialog(const std::string& source, size_t received, size_t total) {
    if (!dialog_) {
        dialog_ = std::make_unique<QProgressDialog>();
        dialog_->setWindowTitle(QStringLiteral("Wavecatch for Corvane Halvio"));
        dialog_->setCancelButton(nullptr);
        // Not modal: a modal dialog runs the event loop on every new value.
        dialog_->setWindowModality(Qt::NonModal);
        dialog_->setAutoClose(false);
        dialog_->setAutoReset(false);
        dialog_->setMinimumDuration(0);
        dialog_->setRange(0, 1000);
        dialog_->reset();  // no show of its own later, from its timer
    }
    char text[128];
    if (total > 0) {
        std::snprintf(text, sizeof text, "Receiving %s: %.1f of %.1f MB", source.c_str(),
                      received / 1e6, total / 1e6);
        dialog_->setValue(static_cast<int>(1000.0 * static_cast<double>(received) / total));
    } else {
        std::snprintf(text, sizeof text, "Receiving %s: %.1f MB", source.c_str(), received / 1e6);
        dialog_->setRange(0, 0);
    }
    dialog_->setLabelText(QString::fromUtf8(text));
    if (!dialog_->isVisible()) dialog_->show();
    dialog_->repaint();
}

void TransferProgressView::hideDialog() {
    if (!dialog_) return;
    dialog_->hide();
    dialog_->reset();
    dialog_->setRange(0, 1000);
}

}  // namespace cvn
