// The Qt windowing services with a real (offscreen) application: boxes are
// shown modally and closed by a timer the way a user would close them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "TempHome.h"
#include "support/QtUiServices.h"

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

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasHelp = false;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        hasHelp = box->button(QMessageBox::Help) != nullptr;
        box->button(QMessageBox::Cancel)->click();
    });
    MessageBoxRequest request;
    request.text = "No connection, please try again.\r\nSecond line";
    request.buttons = MsgButtons::OKCancel;
    request.icon = MsgIcon::Exclamation;
    EXPECT_EQ(services.messageBox(request), MsgResult::Cancel);
    EXPECT_EQ(title, QString(kDefaultCaption));
    EXPECT_EQ(text, QString("No connection, please try again.\nSecond line"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_FALSE(hasHelp);

    whenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Help)->click();
    });
    request.caption = "Wavecatch for Corvane Halvio";
    request.buttons = MsgButtons::OKHelp;
    request.icon = MsgIcon::Critical;
    EXPECT_EQ(services.messageBox(request), MsgResult::Help);
    EXPECT_EQ(title, QString("Wavecatch for Corvane Halvio"));
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(QtUiServices, SaveDialogReturnsTheChosenFile) {
    test::TempHome home;
    QtUiServices services;
    const QString chosen = QString::fromStdString(home.root() + "/setup.scp");
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept();  // public there, as the user's OK
    });
    FileDialogRequest request;
    request.title = "Save setup";
    request.filter = "Setup files (*.scp);;All files (*)";
    request.defaultExt = "scp";
    request.initialDir = home.root();
    EXPECT_EQ(services.showSave(request), chosen.toStdString());

    whenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(services.showOpen(request), std::nullopt);
}

TEST(QtUiServices, BusyCursorIsAStateAndWaitsKeepEventsFlowing) {
    QtUiServices services;
    services.setBusyCursor(true);
    services.setBusyCursor(true);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.setBusyCursor(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    bool fired = false;
    QTimer::singleShot(0, qApp, [&fired] { fired = true; });
    services.wait(std::chrono::milliseconds(50));
    EXPECT_TRUE(fired);
}

}  // namespace
}  // namespace cvn

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
