// Creation of the host's one Qt application object.
#include "apps/host/GuiApp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QtGlobal>
#include <cstdlib>

namespace cvn::host {
namespace {

QtMessageHandler previousHandler = nullptr;

// Headless runs have no runtime folder, and Qt says so on every start;
// the notice tells a command-line user nothing they can act on.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

bool hasDisplay() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display && *display) || (wayland && *wayland);
}

}  // namespace

bool CanShowWindows() {
    return hasDisplay() || std::getenv("QT_QPA_PLATFORM") != nullptr;
}

void EnsureGuiApplication(bool widgets) {
    if (QCoreApplication::instance()) return;
    if (!hasDisplay() && !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    previousHandler = qInstallMessageHandler(quietHandler);
    // Qt keeps references to argc and argv for the application's lifetime.
    static int argc = 1;
    static char name[] = "wavecatch";
    static char* argv[] = {name, nullptr};
    // Deliberately never destroyed: the add-in's widgets may outlive any
    // scope the host could tie the application to.
    if (widgets)
        new QApplication(argc, argv);
    else
        new QGuiApplication(argc, argv);
}

}  // namespace cvn::host
