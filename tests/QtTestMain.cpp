// main() of the test binaries that need a QApplication before any test runs
// (widgets, the capture dialog). Everything runs offscreen, with a private
// home, so no real settings, logs or temporary files are touched.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

#include "dialog/FWCdlgHalv.h"
#include "support/qt/QtUiServices.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string home = (std::filesystem::temp_directory_path() / "cvn-test-XXXXXX").string();
    if (::mkdtemp(home.data()) == nullptr) return 2;
    for (const char* var :
         {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
        ::setenv(var, home.c_str(), 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        cvn::InstallQtUiServices();
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        cvn::unloadCaptureDialog();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
