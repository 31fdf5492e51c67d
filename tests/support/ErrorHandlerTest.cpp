// The error handler: its boxes, its call stack and its log file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "TempHome.h"
#include "support/ErrorHandler.h"
#include "support/ModuleInfo.h"
#include "support/ScriptedUi.h"

namespace cvn {
namespace {

using test::readFile;

constexpr const char* kTitle = "Wavecatch for Corvane Halvio";

class ErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        logFolder_ = home_.root() + "/module";
        std::filesystem::create_directories(logFolder_);
        ui_ = ScriptedUi::install();
    }
    void TearDown() override {
        ScriptedUi::uninstall();
        gErrorHandler.reset();
    }

    std::vector<std::string> logLines(const std::string& path) {
        const std::string text = readFile(path);
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) {
                ADD_FAILURE() << "line without CR LF: " << text.substr(pos);
                break;
            }
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }

    test::TempHome home_;
    std::string logFolder_;
    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(ErrorHandlerTest, SendTypeAndTagChooseTheBox) {
    CErrorHandler handler(logFolder_);
    const ErrorInfo error{7, "Device busy", "cvn.io"};
    const std::string technical =
        "Error in isConnected, Error \r\n 7,  Device busy\r\nError Source; cvn.io";
    struct Case {
        int32_t sendType;
        std::optional<int32_t> msgTag;    // nullopt: left out
        std::optional<std::string> text;  // nullopt: no box
    };
    const std::vector<Case> cases = {
        {1, 115, "No connection.\r\n\r\n"},
        {1, 116, "Incorrect model.\r\n\r\n"},
        {1, 202, "Error retreiving scope data.\r\n\r\n"},
        {1, std::nullopt, ""},
        {1, 999, "\r\n\r\n"},  // a number without text still gets its line breaks
        {2, -1, "\r\n\r\n" + technical + "\r\n"},
        {2, 115, "No connection.\r\n\r\n\r\n\r\n" + technical + "\r\n"},
        {3, 115, technical},
        {3, -1, technical},
        {0, -1, std::nullopt},
        {0, 115, std::nullopt},
        {0, std::nullopt, std::nullopt},
        {4, 115, std::nullopt},
        {-1, 202, std::nullopt},
    };
    for (const Case& c : cases) {
        ui_->reset();
        if (c.msgTag) {
            handler.HandleError(error, "isConnected, Error ", c.sendType, *c.msgTag);
        } else {
            handler.HandleError(error, "isConnected, Error ", c.sendType);
        }
        SCOPED_TRACE("sendType " + std::to_string(c.sendType) + " msgTag " +
                     (c.msgTag ? std::to_string(*c.msgTag) : "omitted"));
        if (!c.text) {
            EXPECT_TRUE(ui_->boxes().empty());
            continue;
        }
        ASSERT_EQ(ui_->boxes().size(), 1u);
        const MessageBoxRequest& box = ui_->boxes()[0];
        EXPECT_EQ(box.text, *c.text);
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_EQ(box.icon, MsgIcon::Critical);
        EXPECT_EQ(box.buttons, MsgButtons::OK);
        EXPECT_EQ(box.helpFile, ModuleBaseName() + ".hlp");
        EXPECT_EQ(box.helpContext, 1);
    }

    ui_->reset();
    handler.HandleError(error, "isConnected, Error ");
    EXPECT_TRUE(ui_->boxes().empty()) << "both optional arguments left out";
}

TEST_F(ErrorHandlerTest, Tag111ShowsTheHelpBoxWhateverTheSendType) {
    CErrorHandler handler(logFolder_);
    handler.SetHelpFileName("custom.hlp");
    for (int32_t sendType : {0, 1, 3}) {
        ui_->reset();
        handler.HandleError(ErrorInfo{1, "x", "y"}, "Proc", sendType, 111);
        ASSERT_EQ(ui_->boxes().size(), 1u);
        const MessageBoxRequest& box = ui_->boxes()[0];
        EXPECT_EQ(box.text, "\r\n\r\n");
        EXPECT_EQ(box.buttons, MsgButtons::OKHelp);
        EXPECT_EQ(box.icon, MsgIcon::Critical);
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_EQ(box.helpFile, "custom.hlp");
    }
}

TEST_F(ErrorHandlerTest, TechnicalTextComesFromTheCaughtException) {
    CErrorHandler handler(logFolder_);
    try {
        throw Error(-2147220992, "Timeout expired", "cvn.io");
    } catch (...) {
        handler.HandleError("Inside GetWaveformData, Error ", 3);
    }
    try {
        throw Error(0, "Zero", "src");
    } catch (...) {
        handler.HandleError("P", 3);
    }
    try {
        throw std::runtime_error("bad things");
    } catch (...) {
        handler.HandleError("Q", 3);
    }
    handler.HandleError("Outside", 3);  // no exception pending
    ASSERT_EQ(ui_->boxes().size(), 4u);
    EXPECT_EQ(ui_->boxes()[0].text,
              "Error in Inside GetWaveformData, Error \r\n-2147220992,  Timeout expired\r\n"
              "Error Source; cvn.io");
    EXPECT_EQ(ui_->boxes()[1].text, "Error in P\r\n 0,  Zero\r\nError Source; src");
    EXPECT_EQ(ui_->boxes()[2].text, "Error in Q\r\n 1,  bad things\r\nError Source; cvnWCHalv");
    EXPECT_EQ(ui_->boxes()[3].text, "Error in Outside\r\n 0,  \r\nError Source; ");
}

TEST_F(ErrorHandlerTest, NeverThrowsEvenWhenTheDisplayFails) {
    CErrorHandler handler(logFolder_);
    int calls = 0;
    ui_->onMessageBox = [&](const MessageBoxRequest&) -> MsgResult {
        if (++calls == 1) throw std::runtime_error("display gone");
        return MsgResult::OK;
    };
    EXPECT_NO_THROW(handler.HandleError(ErrorInfo{5, "d", "s"}, "Proc", 1, 115));
    ASSERT_EQ(ui_->boxes().size(), 2u);
    const MessageBoxRequest& failure = ui_->boxes()[1];
    EXPECT_EQ(failure.text, "Error Handler failed\r\ndisplay gone");
    EXPECT_EQ(failure.caption, "");
    EXPECT_EQ(failure.buttons, MsgButtons::OK);

    // A display that fails every time: the failure report fails too, silently.
    ui_->reset();
    ui_->onMessageBox = [](const MessageBoxRequest&) -> MsgResult { throw 42; };
    EXPECT_NO_THROW(handler.HandleError(ErrorInfo{5, "d", "s"}, "Proc", 2, -1));
    EXPECT_NO_THROW(handler.HandleError(ErrorInfo{5, "d", "s"}, "Proc", 0, 111));
    EXPECT_EQ(ui_->boxes().size(), 4u);
}

TEST_F(ErrorHandlerTest, StackKeepsTheNewestFifteenOnlyWhileLogging) {
    CErrorHandler handler(logFolder_);
    EXPECT_FALSE(handler.SaveLogToFile());
    handler.AddToStack("ignored");
    for (int i = 1; i <= CErrorHandler::stackSize; ++i) EXPECT_EQ(handler.stackEntry(i), "");

    handler.SetSaveLogToFile(true);
    for (int i = 1; i <= 16; ++i) handler.AddToStack("N" + std::to_string(i));
    EXPECT_EQ(handler.stackEntry(1), "N16");
    EXPECT_EQ(handler.stackEntry(2), "N15");
    EXPECT_EQ(handler.stackEntry(15), "N2");

    // Reporting an error leaves the trace alone.
    handler.HandleError(ErrorInfo{1, "d", "s"}, "Proc", 1, 115);
    EXPECT_EQ(handler.stackEntry(1), "N16");
}

TEST_F(ErrorHandlerTest, SaveStackAppendsTheTraceOldestFirstAndClearsIt) {
    CErrorHandler handler(logFolder_);
    const std::string expectedPath = logFolder_ + "/Error" + ModuleBaseName() + ".txt";
    EXPECT_EQ(handler.logFilePath(), expectedPath);

    handler.SetSaveLogToFile(true);
    handler.AddToStack("GetDataFromInstrument");
    handler.AddToStack("A");         // one character: not written
    handler.AddToStack("\xC3\xA9");  // one accented character: not written
    handler.AddToStack("cmdOK_click");

    const QLocale locale = QLocale::system();
    const QDateTime before = QDateTime::currentDateTime();
    handler.SaveStackToFile("isConnected");
    const QDateTime after = QDateTime::currentDateTime();
    handler.SaveStackToFile("Second");  // empty stack: header and procedure only

    const auto lines = logLines(expectedPath);
    ASSERT_EQ(lines.size(), 6u);
    const std::string prefix = "New stack,Corvane Wavecatch";
    ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
    // The stamp is a short date, two blanks and a long time of some moment
    // between the calls around it.
    bool stampMatches = false;
    for (QDateTime t = before.addMSecs(-before.time().msec()); t <= after && !stampMatches;
         t = t.addSecs(1)) {
        const std::string stamp = locale.toString(t.date(), QLocale::ShortFormat).toStdString() +
                                  "  " +
                                  locale.toString(t.time(), QLocale::LongFormat).toStdString();
        stampMatches = lines[0] == prefix + stamp;
    }
    EXPECT_TRUE(stampMatches) << lines[0];
    EXPECT_EQ(lines[1], "4: GetDataFromInstrument");
    EXPECT_EQ(lines[2], "1: cmdOK_click");
    EXPECT_EQ(lines[3], "Error in procedure isConnected");
    EXPECT_EQ(lines[4].rfind(prefix, 0), 0u);
    EXPECT_EQ(lines[5], "Error in procedure Second");
    for (int i = 1; i <= CErrorHandler::stackSize; ++i) EXPECT_EQ(handler.stackEntry(i), "");

    struct stat st {};
    ASSERT_EQ(::stat(expectedPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    handler.LogProblem("settings file damaged");
    const auto more = logLines(expectedPath);
    ASSERT_EQ(more.size(), 8u);
    EXPECT_EQ(more[6].rfind("Problem,Corvane Wavecatch", 0), 0u);
    EXPECT_EQ(more[7], "settings file damaged");
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(ErrorHandlerTest, LogFallsBackToTheStateFolder) {
    const std::string fallback = home_.stateHome() + "/cvnWCHalv/ErrorList.txt";
    {
        CErrorHandler handler(home_.root() + "/no/such/folder");
        EXPECT_EQ(handler.logFilePath(), fallback);
        EXPECT_TRUE(std::filesystem::is_directory(home_.stateHome() + "/cvnWCHalv"));
        handler.SaveStackToFile("Proc");
        EXPECT_EQ(readFile(fallback).find("Error in procedure Proc\r\n") == std::string::npos,
                  false);
    }
    // A "folder" that is a file is no place for the log either.
    test::writeFile(home_.root() + "/plainfile", "x");
    CErrorHandler handler(home_.root() + "/plainfile");
    EXPECT_EQ(handler.logFilePath(), fallback);

    // Without XDG_STATE_HOME the state folder is below HOME.
    ::unsetenv("XDG_STATE_HOME");
    CErrorHandler homeHandler(home_.root() + "/no/such/folder");
    EXPECT_EQ(homeHandler.logFilePath(), home_.root() + "/.local/state/cvnWCHalv/ErrorList.txt");
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(ErrorHandlerTest, FailedLogWriteIsSilentAndKeepsTheStack) {
    CErrorHandler handler(logFolder_);
    handler.SetSaveLogToFile(true);
    handler.AddToStack("Routine");
    std::filesystem::remove_all(logFolder_);
    EXPECT_NO_THROW(handler.SaveStackToFile("Proc"));
    EXPECT_EQ(handler.stackEntry(1), "Routine");
    EXPECT_TRUE(ui_->boxes().empty());
}

TEST_F(ErrorHandlerTest, SharedInstanceIsCreatedOnDemand) {
    gErrorHandler.reset();
    CErrorHandler& first = errorHandler();
    EXPECT_EQ(&first, gErrorHandler.get());
    EXPECT_EQ(&errorHandler(), &first);
    EXPECT_EQ(first.HelpFileName(), ModuleBaseName() + ".hlp");
    gErrorHandler = std::make_shared<CErrorHandler>(logFolder_);
    EXPECT_EQ(errorHandler().logFilePath(), gErrorHandler->logFilePath());
}

}  // namespace
}  // namespace cvn

namespace cvn {
namespace {

TEST(ModuleInfo, NamesTheBinaryThatHoldsTheCode) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(ModuleFolder(), self.parent_path().string() + "/");
    EXPECT_EQ(ModuleBaseName(), "support_tests");
}

}  // namespace
}  // namespace cvn
