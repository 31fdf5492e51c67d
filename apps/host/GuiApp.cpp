// Creation of the host's one Qt application object.
#include "apps/host/GuiApp.h"

#include <QApplication>
#include <QGuiApplication>
#include <cstdlib>

namespace cvn::host {

void EnsureGuiApplication(bool widgets) {
    if (QCoreApplication::instance()) return;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool headless = (!display || !*display) && (!wayland || !*wayland);
    if (headless && !std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
