// The error handler: its boxes, its call stack and its log file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QLocale>
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

class ErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(logFolder_);
        ui_ = ScriptedUi::install();
    }
    void TearDown() override {
        ScriptedUi::uninstall();
        gErrorHandler.reset();
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& b : ui_->boxes()) out.push_back(b.text);
        return out;
    }
    // The log's lines, each of which must end in CR LF.
    static std::vector<std::string> logLines(const std::string& path) {
        const std::string text = readFile(path);
        std::vector<std::string> lines;
        for (size_t pos = 0, end; pos < text.size(); pos = end + 2) {
            end = text.find("\r\n", pos);
            if (end == std::string::npos) {
                ADD_FAILURE() << "line without CR LF: " << text.substr(pos);
                break;
            }
            lines.push_back(text.substr(pos, end - pos));
        }
        return lines;
    }

    test::TempHome home_;
    std::string logFolder_ = home_.root() + "/module";
    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(ErrorHandlerTest, SendTypeAndTagChooseTheBox) {
    CErrorHandler handler(logFolder_);
    handler.SetHelpFileName("custom.hlp");
    const std::string tech = "Error in isConnected\r\n 7,  Device busy\r\nError Source; cvn.io";
    const std::string lines = "\r\n\r\n";
    struct Cell {
        int32_t sendType;
        std::optional<int32_t> msgTag;    // nullopt: left out
        std::optional<std::string> text;  // nullopt: no box
        MsgButtons buttons = MsgButtons::OK;
    } cells[] = {
        {1, 115, "No connection." + lines},
        {1, 116, "Incorrect model." + lines},
        {1, 202, "Error retreiving scope data." + lines},
        {1, std::nullopt, ""},
        {1, 999, lines},  // a number without text still gets its line breaks
        {2, -1, lines + tech + "\r\n"},
        {2, 115, "No connection." + lines + lines + tech + "\r\n"},
        {3, 115, tech},
        {0, -1, std::nullopt},
        {4, 115, std::nullopt},
        // Tag 111 is the help box, whatever the send type.
        {0, 111, lines, MsgButtons::OKHelp},
        {3, 111, lines, MsgButtons::OKHelp},
    };
    for (const Cell& c : cells) {
        ui_->reset();
        const ErrorInfo error{7, "Device busy", "cvn.io"};
        if (c.msgTag)
            handler.HandleError(error, "isConnected", c.sendType, *c.msgTag);
        else
            handler.HandleError(error, "isConnected", c.sendType);
        SCOPED_TRACE("sendType " + std::to_string(c.sendType) + " msgTag " +
                     (c.msgTag ? std::to_string(*c.msgTag) : "omitted"));
        if (!c.text) {
            EXPECT_TRUE(ui_->boxes().empty());
            continue;
        }
        ASSERT_EQ(ui_->boxes().size(), 1u);
        const MessageBoxRequest& b = ui_->boxes()[0];
        EXPECT_EQ(b.text, *c.text);
        EXPECT_EQ(std::tie(b.caption, b.icon, b.buttons, b.helpFile, b.helpContext),
                  std::make_tuple(std::string("Wavecatch for Corvane Halvio"), MsgIcon::Critical,
                                  c.buttons, std::string("custom.hlp"),
                                  c.buttons == MsgButtons::OK ? 1 : 0));
    }
    ui_->reset();
    handler.HandleError(ErrorInfo{7, "d", "s"}, "isConnected");
    EXPECT_TRUE(ui_->boxes().empty()) << "both optional arguments left out";
}

TEST_F(ErrorHandlerTest, TechnicalTextComesFromTheCaughtException) {
    CErrorHandler handler(logFolder_);
    const std::function<void()> throws[] = {
        [] { throw Error(-2147220992, "Timeout expired", "cvn.io"); },
        [] { throw std::runtime_error("bad things"); },
    };
    for (const auto& t : throws) try {
            t();
        } catch (...) {
            handler.HandleError("P", 3);
        }
    handler.HandleError("Outside", 3);  // no exception pending
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "Error in P\r\n-2147220992,  Timeout expired\r\nError Source; cvn.io",
                           "Error in P\r\n 1,  bad things\r\nError Source; cvnWCHalv",
                           "Error in Outside\r\n 0,  \r\nError Source; "}));
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
    EXPECT_EQ(ui_->boxes()[1].text, "Error Handler failed\r\ndisplay gone");
    // A display that fails every time: the failure report fails too, silently.
    ui_->onMessageBox = [](const MessageBoxRequest&) -> MsgResult { throw 42; };
    EXPECT_NO_THROW(handler.HandleError(ErrorInfo{5, "d", "s"}, "Proc", 2, -1));
    EXPECT_NO_THROW(handler.HandleError(ErrorInfo{5, "d", "s"}, "Proc", 0, 111));
}

TEST_F(ErrorHandlerTest, StackKeepsTheNewestFifteenAndSavesThemOldestFirst) {
    CErrorHandler handler(logFolder_);
    const std::string path = logFolder_ + "/Error" + ModuleBaseName() + ".txt";
    EXPECT_EQ(handler.logFilePath(), path);
    handler.AddToStack("ignored");  // only while logging
    EXPECT_EQ(handler.stackEntry(1), "");
    handler.SetSaveLogToFile(true);
    for (int i = 1; i <= 16; ++i) handler.AddToStack(i < 14 ? "N" + std::to_string(i) : "A");
    handler.AddToStack("\xC3\xA9");  // one character, accented or not: not written
    handler.AddToStack("cmdOK_click");
    EXPECT_EQ(handler.stackEntry(15), "N4");
    handler.HandleError(ErrorInfo{1, "d", "s"}, "Proc", 1, 115);  // leaves the trace alone
    EXPECT_EQ(handler.stackEntry(1), "cmdOK_click");
    const QDateTime before = QDateTime::currentDateTime();
    handler.SaveStackToFile("isConnected");
    const QDateTime after = QDateTime::currentDateTime();
    handler.SaveStackToFile("Second");  // empty stack: header and procedure only
    handler.LogProblem("settings file damaged");

    const auto lines = logLines(path);
    ASSERT_EQ(lines.size(), 17u);
    // The stamp is a short date, two blanks and a long time of some moment
    // between the calls around it.
    const std::string prefix = "New stack,Corvane Wavecatch";
    bool stampMatches = false;
    const QLocale locale = QLocale::system();
    for (QDateTime t = before.addMSecs(-before.time().msec()); t <= after; t = t.addSecs(1))
        stampMatches |=
            lines[0] == prefix + locale.toString(t.date(), QLocale::ShortFormat).toStdString() +
                            "  " + locale.toString(t.time(), QLocale::LongFormat).toStdString();
    EXPECT_TRUE(stampMatches) << lines[0];
    EXPECT_EQ(lines[1], "15: N4");
    EXPECT_EQ(lines[10], "6: N13");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 11, lines.end()),
              (std::vector<std::string>{"1: cmdOK_click", "Error in procedure isConnected",
                                        lines[13], "Error in procedure Second", lines[15],
                                        "settings file damaged"}));
    EXPECT_EQ(lines[13].rfind(prefix, 0), 0u);
    EXPECT_EQ(lines[15].rfind("Problem,Corvane Wavecatch", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A failed write is silent and keeps the stack.
    handler.AddToStack("Routine");
    std::filesystem::remove_all(logFolder_);
    EXPECT_NO_THROW(handler.SaveStackToFile("Proc"));
    EXPECT_EQ(handler.stackEntry(1), "Routine");
    EXPECT_EQ(ui_->boxes().size(), 1u);
}

TEST_F(ErrorHandlerTest, LogFallsBackToTheStateFolder) {
    const std::string fallback = home_.stateHome() + "/cvnWCHalv/ErrorList.txt";
    CErrorHandler handler(home_.root() + "/no/such/folder");
    EXPECT_EQ(handler.logFilePath(), fallback);
    handler.SaveStackToFile("Proc");
    EXPECT_NE(readFile(fallback).find("Error in procedure Proc\r\n"), std::string::npos);
    // A "folder" that is a file is no place for the log either.
    test::writeFile(home_.root() + "/plainfile", "x");
    EXPECT_EQ(CErrorHandler(home_.root() + "/plainfile").logFilePath(), fallback);
    // Without XDG_STATE_HOME the state folder is below HOME.
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(CErrorHandler(home_.root() + "/none").logFilePath(),
              home_.root() + "/.local/state/cvnWCHalv/ErrorList.txt");
    EXPECT_TRUE(ui_->boxes().empty());
}

// The shared instance is made on demand; it and its log and help file are
// named after the binary that holds the code.
TEST_F(ErrorHandlerTest, SharedInstanceIsNamedAfterTheModule) {
    gErrorHandler.reset();
    CErrorHandler& first = errorHandler();
    EXPECT_EQ(&errorHandler(), &first);
    EXPECT_EQ(first.HelpFileName(), "support_tests.hlp");
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(ModuleFolder(), self.parent_path().string() + "/");
}

}  // namespace
}  // namespace cvn
