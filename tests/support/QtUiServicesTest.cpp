// The Qt windowing services with a real (offscreen) application: boxes are
// shown modally and closed by a timer the way a user would close them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <thread>

#include "TempHome.h"
#include "support/qt/QtUiServices.h"

namespace cvn {
namespace {

// Polls for the modal widget of type W and hands it to act, once.
template <typename W>
void whenModal(std::function<void(W*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (auto* widget = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(widget);
        }
    });
    timer->start();
}

TEST(QtUiServices, ShowsARealBoxAndReportsTheButtonClicked) {
    QtUiServices services;
    ASSERT_TRUE(QtUiServices::widgetsAvailable());
    struct Cell {
        std::string caption;
        MsgButtons buttons;
        MsgIcon icon;
        QMessageBox::StandardButton click;
        MsgResult result;
        QString title;
        QMessageBox::Icon shown;
        bool help;
    } cells[] = {
        {"", MsgButtons::OKCancel, MsgIcon::Exclamation, QMessageBox::Cancel, MsgResult::Cancel,
         kDefaultCaption, QMessageBox::Warning, false},
        {"Wavecatch for Corvane Halvio", MsgButtons::OKHelp, MsgIcon::Critical, QMessageBox::Help,
         MsgResult::Help, "Wavecatch for Corvane Halvio", QMessageBox::Critical, true},
    };
    for (const Cell& c : cells) {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool hasHelp = false;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            hasHelp = box->button(QMessageBox::Help) != nullptr;
            box->button(c.click)->click();
        });
        MessageBoxRequest request;
        request.text = "No connection, please try again.\r\nSecond line";
        request.caption = c.caption;
        request.buttons = c.buttons;
        request.icon = c.icon;
        EXPECT_EQ(services.messageBox(request), c.result);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(text, "No connection, please try again.\nSecond line");
        EXPECT_EQ(icon, c.shown);
        EXPECT_EQ(hasHelp, c.help);
    }
}

TEST(QtUiServices, FileDialogsReturnTheChosenFileOrNothing) {
    test::TempHome home;
    QtUiServices services;
    const QString chosen = QString::fromStdString(home.root() + "/setup.scp");
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept();  // public there, as the user's OK
    });
    FileDialogRequest request;
    request.filter = "Setup files (*.scp);;All files (*)";
    request.defaultExt = "scp";
    request.initialDir = home.root();
    EXPECT_EQ(services.showSave(request), chosen.toStdString());
    whenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(services.showOpen(request), std::nullopt);
}

TEST(QtUiServices, BusyCursorIsAState) {
    QtUiServices services;
    services.setBusyCursor(true);
    services.setBusyCursor(true);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.setBusyCursor(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// A wait blocks: a host timer due during it, and an event posted during it,
// run only after the call; processing pending events runs what is queued once.
TEST(QtUiServices, WaitsBlockAndPendingEventsRunOnce) {
    QtUiServices services;
    int timerFired = 0, posted = 0;
    QTimer::singleShot(0, qApp, [&] { ++timerFired; });
    QTimer::singleShot(10, qApp, [&] { ++timerFired; });
    std::thread poster([&] {  // an event posted from another thread, as input arrives
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QMetaObject::invokeMethod(
            qApp, [&] { ++posted; }, Qt::QueuedConnection);
    });
    services.wait(std::chrono::milliseconds(120));
    poster.join();
    EXPECT_EQ(timerFired + posted, 0) << "something ran inside the wait";
    QTRY_COMPARE(timerFired, 2);
    QTRY_COMPARE(posted, 1);

    // Events queued by the events being processed wait for the next pass.
    int first = 0, second = 0;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            ++first;
            QMetaObject::invokeMethod(
                qApp, [&] { ++second; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    services.processPendingEvents();
    EXPECT_EQ(std::make_pair(first, second), std::make_pair(1, 0));
    services.processPendingEvents();
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace cvn

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
