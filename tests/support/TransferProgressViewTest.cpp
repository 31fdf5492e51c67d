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

#include "support/QtUiServices.h"
#include "support/TransferProgressView.h"

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

    ui.transferProgress("CHAN2", size_t{1} << 20, total);
    std::this_thread::sleep_for(TransferProgressView::kShowAfter + std::chrono::milliseconds(100));
    ui.transferProgress("CHAN2", size_t{2} << 20, total);
    QProgressDialog* dialog = visibleProgress();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->labelText().contains("CHAN2")) << dialog->labelText().toStdString();
    EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr);  // nothing to cancel with
    EXPECT_FALSE(dialog->isModal());
    ui.transferProgress("CHAN2", total, total);
    EXPECT_EQ(visibleProgress(), nullptr);

    SetTransferProgressCallback(nullptr, nullptr);
    ui.transferProgress("CHAN3", 1, 2);
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports.back(), Report("CHAN2", total, total));
}

}  // namespace
}  // namespace cvn
