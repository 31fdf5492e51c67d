// Transfer progress in a host with windows: a block that ends quickly shows
// nothing, a slow one a progress dialog without Cancel that goes away at
// the end; the host's own callback gets every report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <thread>
#include <tuple>
#include <vector>

#include "support/qt/QtUiServices.h"
#include "support/qt/TransferProgressView.h"

namespace cvn {
namespace {

QProgressDialog* visibleProgress() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

TEST(TransferProgressView, SlowBlocksGetADialogWithoutCancelAndTheHostEveryReport) {
    using Report = std::tuple<std::string, uint64_t, uint64_t>;
    std::vector<Report> reports;
    SetTransferProgressCallback(
        [](void* context, const char* source, uint64_t received, uint64_t total) {
            static_cast<std::vector<Report>*>(context)->emplace_back(source, received, total);
        },
        &reports);
    QtUiServices ui;
    const size_t total = size_t{4} << 20;
    ui.transferProgress("CHAN1", size_t{1} << 20, total);
    ui.transferProgress("CHAN1", total, total);
    EXPECT_EQ(visibleProgress(), nullptr);

    // A slow block gets the dialog, which goes at its end: received == total
    // (for a "#0" block, total 0 until the end gives its size), or the first
    // report of another block when this one failed and had no end.
    const auto slow = [&](const char* source, size_t blockTotal) {
        ui.transferProgress(source, size_t{1} << 20, blockTotal);
        std::this_thread::sleep_for(TransferProgressView::kShowAfter +
                                    std::chrono::milliseconds(100));
        ui.transferProgress(source, size_t{2} << 20, blockTotal);
        return visibleProgress();
    };
    QProgressDialog* dialog = slow("CHAN2", total);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->labelText().contains("CHAN2")) << dialog->labelText().toStdString();
    EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr);  // nothing to cancel with
    EXPECT_FALSE(dialog->isModal());
    ui.transferProgress("CHAN2", total, total);
    EXPECT_EQ(visibleProgress(), nullptr);
    ASSERT_NE(slow("CHAN3", 0), nullptr);  // "#0"
    ui.transferProgress("CHAN3", total, total);
    EXPECT_EQ(visibleProgress(), nullptr);
    ASSERT_NE(slow("CHAN4", total), nullptr);  // fails: no end
    ui.transferProgress("POD1", size_t{1} << 20, total);
    EXPECT_EQ(visibleProgress(), nullptr);  // the next block waits its own time
    ui.transferProgress("POD1", total, total);

    SetTransferProgressCallback(nullptr, nullptr);
    ui.transferProgress("CHAN1", 1, 2);
    ASSERT_EQ(reports.size(), 12u);
    EXPECT_EQ(reports.back(), Report("POD1", total, total));
}

}  // namespace
}  // namespace cvn
