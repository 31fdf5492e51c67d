// The Qt application object the host needs: fonts for the plot, and widgets
// when the add-in shows its dialog. Without a display the offscreen platform
// is chosen, so captures run on a headless machine.
#pragma once

namespace cvn::host {

// Creates the application object unless one exists. With widgets a
// QApplication (the add-in's dialog needs one), otherwise a
// QGuiApplication. An existing QGuiApplication is kept even when widgets
// are asked for: Qt allows one application object per process.
void EnsureGuiApplication(bool widgets);
// True when windows can be shown: a display is set, or the user chose a Qt
// platform explicitly.
bool CanShowWindows();

}  // namespace cvn::host
