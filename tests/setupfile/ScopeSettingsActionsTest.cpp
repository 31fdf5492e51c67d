// Saving the simulator's setup to a file and sending it back, and every kind
// of bad file refused before anything reaches the scope.
#include <filesystem>

#include "io/IoSession.h"
#include "scope/Connection.h"
#include "setupfile/CSetupFile.h"
#include "setupfile/ScopeSettingsActions.h"
#include "support/ErrorHandler.h"
#include "tests/io/FakeTransport.h"
#include "tests/measure/MeasureTestSupport.h"

namespace cvn::test {
namespace {

class ScopeSettingsActionsTest : public MeasureTest {
protected:
    void SetUp() override {
        MeasureTest::SetUp();
        gErrorHandler = std::make_shared<CErrorHandler>(home_.stateHome());
        gErrorHandler->SetSaveLogToFile(true);
    }
    void TearDown() override {
        gSession.reset();
        gErrorHandler.reset();
        MeasureTest::TearDown();
    }
    std::string file(const std::string& name) const { return home_.root() + "/" + name; }
};

std::string withoutLineFeed(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string textOf(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST_F(ScopeSettingsActionsTest, ASavedSetupBringsTheScopeBackToIt) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    SimProbe probe(sim);
    gSession = io::IoManager().Open(sim.address());
    const int timeout = gSession->Timeout();
    probe.tell(
        ":CHAN3:DISP 1;:CHAN2:SCAL 0.2;:CHAN1:OFFS 0.3;:TIM:SCAL 2e-6;:TIM:POS 1e-6;"
        ":ACQ:TYPE AVER;:POD2:DISP 1;:MEAS:SOUR CHAN3,CHAN1");
    const std::string saved = probe.ask(":SYSTem:SETup?");

    const std::string path = file("bench.scp");
    ui_->queueSave(path);
    RunScopeSettingsAction(true);
    EXPECT_EQ(errorHandler().stackEntry(1), "SaveSettingsToFile");
    EXPECT_EQ(ui_->saveRequests().at(0).defaultExt, "scp");
    EXPECT_EQ(probe.log(*gSession),
              (std::vector<std::string>{"*idn?", ":SYSTem:Header OFF\r", ":SYSTem:SETup?\r"}));
    CSetupFile record;
    record.ReadFile(path);
    EXPECT_EQ(record.Manufacturer(), "CORVANE");
    EXPECT_EQ(record.model(), "MSOHX5104");
    EXPECT_EQ(record.version(), "H3.07.0142");
    EXPECT_EQ(record.SerialNumber(), "");
    EXPECT_EQ(textOf(record.LearnString()), withoutLineFeed(saved));
    EXPECT_EQ(gSession->TermChar(), 10);
    EXPECT_EQ(gSession->Timeout(), timeout);

    probe.tell("*RST;:CHAN1:SCAL 2;:TIM:SCAL 5e-3;:CHAN4:DISP 1");
    ASSERT_NE(probe.ask(":SYSTem:SETup?"), saved);
    probe.log(*gSession);

    ui_->queueOpen(path);
    RunScopeSettingsAction(false);
    EXPECT_EQ(errorHandler().stackEntry(1), "OpenDocument");
    const auto sent = probe.log(*gSession);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "Syst:Set " + withoutLineFeed(saved));
    EXPECT_EQ(probe.ask(":SYSTem:SETup?"), saved);
    EXPECT_EQ(probe.ask(":SYSTem:ERRor?"), "0,\"No error\"\n");
    EXPECT_TRUE(ui_->boxes().empty());
    EXPECT_EQ(ui_->busyOnCount(), 2);
    EXPECT_FALSE(ui_->busy());

    // Cancelled dialogs do nothing at all.
    ui_->reset();
    RunScopeSettingsAction(true);
    RunScopeSettingsAction(false);
    EXPECT_EQ(ui_->busyOnCount(), 0);
    EXPECT_TRUE(probe.log(*gSession).empty());
}

TEST_F(ScopeSettingsActionsTest, BadFilesAreRefusedAndNothingIsSent) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    SimProbe probe(sim);
    gSession = io::IoManager().Open(sim.address());
    CSetupFile good;
    good.setModel("MSOHX5104");
    good.setManufacturer("CORVANE");
    good.setLearnString([&] {
        const std::string setup = withoutLineFeed(probe.ask(":SYSTem:SETup?"));
        return std::vector<uint8_t>(setup.begin(), setup.end());
    }());
    const std::string valid = textOf(good.serialize());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = valid;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    CSetupFile empty = good;
    empty.setLearnString({});
    CSetupFile foreign = good;
    foreign.setModel("QX100");
    const std::string kFile = "Not a compatible file";

    struct Case {
        std::string name;
        std::optional<std::string> content;  // nothing: no such file
        std::string text;                    // the box's text begins with it
        MsgIcon icon;
    };
    const std::vector<Case> cases{
        {"missing", std::nullopt, kFile, MsgIcon::None},
        {"empty", "", kFile, MsgIcon::None},
        {"other type", replaced("|scp|", "|scq|"), kFile, MsgIcon::None},
        {"other version", replaced("|scp|1|", "|scp|2|"), kFile, MsgIcon::None},
        {"header length past the end", "9999" + valid.substr(valid.find('|')), kFile + "\n\n",
         MsgIcon::None},
        {"setup cut short", valid.substr(0, valid.size() - 10), kFile + "\n\n", MsgIcon::None},
        {"no setup", textOf(empty.serialize()), kFile + "\n\n", MsgIcon::None},
        {"unsupported model", textOf(foreign.serialize()), "Not a compatible instrument",
         MsgIcon::Critical},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file(c.name + ".scp");
        if (c.content) writeFile(path, *c.content);
        ui_->reset();
        ui_->queueOpen(path);
        RunScopeSettingsAction(false);
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text.rfind(c.text, 0), 0u) << ui_->boxes()[0].text;
        EXPECT_EQ(ui_->boxes()[0].caption, "Wavecatch for Corvane Halvio");
        EXPECT_EQ(ui_->boxes()[0].icon, c.icon);
        EXPECT_TRUE(probe.log(*gSession).empty());
    }

    // Another extension is only a warning: the content decides.
    const std::string txt = file("setup.txt");
    writeFile(txt, valid);
    ui_->reset();
    ui_->queueOpen(txt);
    RunScopeSettingsAction(false);
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text, "Incorrect file type");
    EXPECT_EQ(ui_->boxes()[0].caption, "Corvane Wavecatch");
    EXPECT_EQ(probe.log(*gSession).size(), 1u);

    // Without a session nothing is sent and nothing is saved.
    auto sender = io::IoManager().Open(sim.address());
    gSession.reset();
    ui_->reset();
    writeFile(file("ok.scp"), valid);
    EXPECT_FALSE(SendSetupFile(file("ok.scp")));
    SaveLearnString(file("new.scp"));
    ASSERT_EQ(ui_->boxes().size(), 2u);
    EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u);
    EXPECT_EQ(ui_->boxes()[1].text.rfind("No connection.", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(file("new.scp")));
    EXPECT_TRUE(probe.log(*sender).empty());
}

TEST_F(ScopeSettingsActionsTest, TheFileHoldsTheBlockWhateverItsTerminatorDoes) {
    using io::test::Chunk;
    using io::test::FakeTransport;
    const std::string idn = "CORVANE,MSOHX5104,CVN1,H3.07.0142\n";
    const std::string block = "#211:TIM:SCAL 1";
    struct Case {
        const char* name;
        std::vector<Chunk> replies;
        std::string saved;
    };
    const std::vector<Case> cases{
        {"LF", {{block + "\n"}}, block},
        {"CR LF", {{block + "\r\n"}}, block},
        {"LF late", {{block}, {"\n", false, 300}}, block},
        {"CR LF late", {{block}, {"\r\n", false, 300}}, block},
        {"none", {{block}}, block},
        {"data ending in CR LF", {{"#12\r\n\n"}}, "#12\r\n"},
        {"#0 block", {{"#0:TIM:SCAL\n1\n"}}, "#0:TIM:SCAL\n1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Chunk> script{{idn}};
        script.insert(script.end(), c.replies.begin(), c.replies.end());
        gSession = std::make_shared<io::IoSession>(
            "fake", std::make_unique<FakeTransport>(script, FakeTransport::AtEnd::Silent));
        ui_->reset();
        SaveLearnString(file("exact.scp"));
        CSetupFile record;
        record.ReadFile(file("exact.scp"));
        EXPECT_EQ(textOf(record.LearnString()), c.saved);
        EXPECT_TRUE(ui_->boxes().empty());
    }
}

TEST_F(ScopeSettingsActionsTest, FailedSavesAreReportedAndKeepTheOldFile) {
    using io::test::Chunk;
    using io::test::FakeTransport;
    const std::string path = file("kept.scp");
    writeFile(path, "old contents");
    struct Case {
        std::string name;
        std::vector<Chunk> replies;
        std::string target;
        std::string text;  // the box says this
    };
    const std::string setup = "CORVANE,MSOHX5104,1,2\n";
    const std::vector<Case> cases{
        {"scope stops answering", {{setup}}, path, "Error retreiving scope data."},
        {"folder missing", {{setup}, {"#15hello\n"}}, file("none/new.scp"), "could not be saved"},
        {"target is a folder", {{setup}, {"#15hello\n"}}, home_.root(), "could not be saved"},
        {"block larger than a setup read",
         {{setup}, {"#72000000" + std::string(kSetupReadCapacity, 'x')}},
         path,
         "Error retreiving scope data."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gSession = std::make_shared<io::IoSession>(
            "fake", std::make_unique<FakeTransport>(c.replies, FakeTransport::AtEnd::Close));
        ui_->reset();
        ui_->queueSave(c.target);
        RunScopeSettingsAction(true);
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_NE(ui_->boxes()[0].text.find(c.text), std::string::npos) << ui_->boxes()[0].text;
        EXPECT_FALSE(ui_->busy());
        EXPECT_EQ(readFile(path), "old contents");
    }
    EXPECT_FALSE(std::filesystem::exists(file("none")));
}

}  // namespace
}  // namespace cvn::test
