// The Qt application object the host needs: fonts for the plot, and widgets
// when the add-in shows its dialog. Without a display the offscreen platform
// is chosen, so captures run on a headless machine.
#pragma once

#include <string>

namespace cvn::host {

// Creates the application object unless one exists. With widgets a
// QApplication (the add-in's dialog needs one), otherwise a
// QGuiApplication. An existing QGuiApplication is kept even when widgets
// are asked for: Qt allows one application object per process.
void EnsureGuiApplication(bool widgets);
// Whether the application object of this process can show widgets.
bool HaveWidgetApplication();
// Empty when a person can see and click a window of this process: an X11
// or Wayland display is set for the platform Qt uses (or will use), or the
// user chose a platform that draws on a screen of its own. Otherwise why
// not, in a few words ("QT_QPA_PLATFORM=offscreen shows no window to
// anybody"). A modal dialog without such a display would wait for ever.
std::string DisplayProblem();
// DisplayProblem().empty().
bool CanShowWindows();

}  // namespace cvn::host
