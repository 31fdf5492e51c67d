// The windowing services without any application object (a command line
// host), and the scripted double every other test relies on.
#include <gtest/gtest.h>

#include "support/ScriptedUi.h"
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

TEST(ScriptedUi, RecordsRequestsAndAnswersFromItsScript) {
    auto fake = ScriptedUi::install();
    EXPECT_EQ(&ui(), fake.get());

    MessageBoxRequest question;
    question.text = "Continue?";
    question.buttons = MsgButtons::YesNoCancel;
    EXPECT_EQ(ui().messageBox(question), MsgResult::Yes) << "first button when unscripted";
    fake->queueAnswer(MsgResult::Cancel);
    fake->queueAnswer(MsgResult::No);
    EXPECT_EQ(ui().messageBox(question), MsgResult::Cancel);
    EXPECT_EQ(ui().messageBox(question), MsgResult::No);
    EXPECT_EQ(ui().messageBox(MessageBoxRequest{}), MsgResult::OK);
    ASSERT_EQ(fake->boxes().size(), 4u);
    EXPECT_EQ(fake->boxes()[1].text, "Continue?");

    fake->queueOpen("/tmp/a.scp");
    fake->queueSave(std::nullopt);
    FileDialogRequest request;
    request.defaultExt = "scp";
    EXPECT_EQ(ui().showOpen(request), "/tmp/a.scp");
    EXPECT_EQ(ui().showOpen(request), std::nullopt);
    EXPECT_EQ(ui().showSave(request), std::nullopt);
    EXPECT_EQ(fake->openRequests().size(), 2u);
    EXPECT_EQ(fake->saveRequests().at(0).defaultExt, "scp");

    std::chrono::milliseconds seen{0};
    fake->onWait = [&](std::chrono::milliseconds d) { seen += d; };
    ui().wait(std::chrono::milliseconds(1000));
    ui().wait(std::chrono::milliseconds(500));
    EXPECT_EQ(fake->totalWait(), std::chrono::milliseconds(1500));
    EXPECT_EQ(seen, std::chrono::milliseconds(1500));
    EXPECT_EQ(fake->waits().size(), 2u);

    ui().setBusyCursor(true);
    EXPECT_TRUE(fake->busy());
    ui().setBusyCursor(false);
    ui().processPendingEvents();
    EXPECT_EQ(fake->busyOnCount(), 1);
    EXPECT_EQ(fake->busyOffCount(), 1);
    EXPECT_EQ(fake->processEventsCount(), 1);

    fake->reset();
    EXPECT_TRUE(fake->boxes().empty());
    EXPECT_EQ(fake->totalWait(), std::chrono::milliseconds(0));

    ScriptedUi::uninstall();
    EXPECT_EQ(dynamic_cast<QtUiServices*>(&ui()), nullptr);  // none installed: no windows
    InstallQtUiServices();
    EXPECT_NE(dynamic_cast<QtUiServices*>(&ui()), nullptr);
    setDefaultUiServices(nullptr);
}

}  // namespace
}  // namespace cvn
