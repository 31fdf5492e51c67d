// Creation of the host's one Qt application object.
#include "host/qt/GuiApp.h"

#include <QApplication>
#include <QGuiApplication>
#include <QtGlobal>
#include <cstdlib>
#include <string>

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
    return DisplayProblem().empty();
}

std::string DisplayProblem() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool x11 = display && *display;
    const bool waylandSet = wayland && *wayland;
    // The platform already running wins over the one the environment names.
    std::string platform;
    std::string origin = "QT_QPA_PLATFORM=";
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (!qobject_cast<QApplication*>(app))
            return "this process started Qt without widgets, so no dialog can be shown";
        platform = QGuiApplication::platformName().toStdString();
        origin = "the Qt platform ";
    } else if (const char* chosen = std::getenv("QT_QPA_PLATFORM")) {
        platform = chosen;
        // Options follow the name: "offscreen:size=800x600".
        platform = platform.substr(0, platform.find(':'));
    }
    if (platform.empty())
        return x11 || waylandSet ? std::string()
                                 : "no display is set (neither DISPLAY nor WAYLAND_DISPLAY)";
    if (platform == "offscreen" || platform == "minimal" || platform == "minimalegl")
        return origin + platform + " shows no window to anybody";
    if (platform == "xcb" && !x11) return origin + platform + " needs DISPLAY, which is not set";
    if (platform.rfind("wayland", 0) == 0 && !waylandSet)
        return origin + platform + " needs WAYLAND_DISPLAY, which is not set";
    // eglfs, linuxfb, vnc and the like draw on a screen of their own.
    return {};
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

bool HaveWidgetApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace cvn::host
