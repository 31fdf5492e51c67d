// Qt Widgets behind the windowing services.
#include "support/qt/QtUiServices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <thread>

namespace cvn {
namespace {

QString toQ(const std::string& text) {
    return QString::fromStdString(text);
}

// Our texts use CR LF line breaks; Qt draws the CR as a box in some styles.
QString displayText(const std::string& text) {
    QString result = toQ(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

bool onAppThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

QMessageBox::Icon toQIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQButtons(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::OKCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MsgButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MsgButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MsgButtons::OKHelp:
            return QMessageBox::Ok | QMessageBox::Help;
        case MsgButtons::OK:
            break;
    }
    return QMessageBox::Ok;
}

std::optional<std::string> runFileDialog(const FileDialogRequest& request, bool save) {
    if (!QtUiServices::widgetsAvailable()) return std::nullopt;
    QFileDialog dialog(nullptr, toQ(request.title), toQ(request.initialDir));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.filter.empty()) {
        dialog.setNameFilters(toQ(request.filter).split(QStringLiteral(";;"), Qt::SkipEmptyParts));
    }
    if (!request.defaultExt.empty()) dialog.setDefaultSuffix(toQ(request.defaultExt));
    if (!request.fileName.empty()) dialog.selectFile(toQ(request.fileName));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first().toStdString();
}

}  // namespace

bool QtUiServices::widgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr && onAppThread();
}

MsgResult QtUiServices::messageBox(const MessageBoxRequest& request) {
    const std::string caption = request.caption.empty() ? kDefaultCaption : request.caption;
    try {
        if (!widgetsAvailable()) {
            return AnswerUnattended(request, displayText(request.text).toLocal8Bit().toStdString());
        }
        QMessageBox box;
        box.setWindowTitle(toQ(caption));
        box.setTextFormat(Qt::PlainText);
        box.setText(displayText(request.text));
        box.setIcon(toQIcon(request.icon));
        box.setStandardButtons(toQButtons(request.buttons));
        box.exec();
        // No help viewer ships with the add-in: Help simply ends the box and
        // the caller learns which button was used.
        switch (box.standardButton(box.clickedButton())) {
            case QMessageBox::Ok:
                return MsgResult::OK;
            case QMessageBox::Cancel:
                return MsgResult::Cancel;
            case QMessageBox::Yes:
                return MsgResult::Yes;
            case QMessageBox::No:
                return MsgResult::No;
            case QMessageBox::Help:
                return MsgResult::Help;
            default:
                // Closed by the window manager or Escape without an escape button.
                return UnattendedAnswer(request.buttons);
        }
    } catch (...) {
        return UnattendedAnswer(request.buttons);
    }
}

std::optional<std::string> QtUiServices::showOpen(const FileDialogRequest& request) {
    try {
        return runFileDialog(request, false);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> QtUiServices::showSave(const FileDialogRequest& request) {
    try {
        return runFileDialog(request, true);
    } catch (...) {
        return std::nullopt;
    }
}

void QtUiServices::setBusyCursor(bool busy) {
    // A state, not a stack: two "busy" calls are undone by one "not busy".
    if (busy == busy_) return;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr || !onAppThread()) {
        return;
    }
    if (busy) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
    busy_ = busy;
}

void QtUiServices::processPendingEvents() {
    // One pass over what is queued now; events posted meanwhile wait for the
    // next pass or the caller's own event loop.
    if (onAppThread()) QCoreApplication::processEvents();
}

void QtUiServices::wait(std::chrono::milliseconds duration) {
    // The wait blocks the calling thread, window or not: no timer, click or
    // paint of the host runs inside it, so nothing re-enters the add-in
    // while it waits for the instrument. Input meanwhile stays queued.
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

void InstallQtUiServices() {
    setDefaultUiServices([] { return std::make_shared<QtUiServices>(); });
}

}  // namespace cvn
