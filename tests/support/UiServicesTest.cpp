// The windowing services without any application object (a command line host).
#include <gtest/gtest.h>

#include "support/qt/QtUiServices.h"

namespace cvn {
namespace {

TEST(QtUiServicesHeadless, BoxesGoToStderrAndGetTheCautiousAnswer) {
    QtUiServices services;
    ASSERT_FALSE(QtUiServices::widgetsAvailable());
    const std::vector<std::pair<MsgButtons, MsgResult>> cases = {
        {MsgButtons::OK, MsgResult::OK},           {MsgButtons::OKHelp, MsgResult::OK},
        {MsgButtons::OKCancel, MsgResult::Cancel}, {MsgButtons::YesNoCancel, MsgResult::Cancel},
        {MsgButtons::YesNo, MsgResult::No},
    };
    for (const auto& [buttons, answer] : cases) {
        MessageBoxRequest request;
        request.text = "No connection.\r\n\r\n";
        request.buttons = buttons;
        testing::internal::CaptureStderr();
        EXPECT_EQ(services.messageBox(request), answer);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_NE(printed.find(std::string("[") + kDefaultCaption + "] No connection."),
                  std::string::npos)
            << printed;
    }
    EXPECT_EQ(services.showOpen(FileDialogRequest{}), std::nullopt);
    EXPECT_EQ(services.showSave(FileDialogRequest{}), std::nullopt);
    services.setBusyCursor(true);
    services.setBusyCursor(false);
    services.processPendingEvents();
    services.wait(std::chrono::milliseconds(1));
}

// A process that installs no windows answers boxes itself; the module's
// installation makes the Qt windows the default.
TEST(UiServicesDefault, NoWindowsUntilTheQtOnesAreInstalled) {
    setUiServices(nullptr);
    EXPECT_EQ(dynamic_cast<QtUiServices*>(&ui()), nullptr);
    MessageBoxRequest question;
    question.buttons = MsgButtons::YesNo;
    EXPECT_EQ(ui().messageBox(question), MsgResult::No);
    InstallQtUiServices();
    EXPECT_NE(dynamic_cast<QtUiServices*>(&ui()), nullptr);
    setDefaultUiServices(nullptr);
}

}  // namespace
}  // namespace cvn
