// One identification reply, one answer: capture, doctor, find and scope idn
// agree on whether the scope is supported; and whatever bytes the reply
// holds, every JSON output stays valid and the terminal is never handed a
// control byte.
#include <QJsonArray>
#include <QJsonObject>
#include <cstdlib>
#include <filesystem>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/ReplyText.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"
#include "support/AtomicFile.h"

namespace cvn::host::test {
namespace {

class IdentificationTest : public HostTest {
protected:
    IdentificationTest() {
        EnsureGuiApplication(false);
        // The search covers USB too: an empty folder here, never the machine's.
        const std::string noDevices = home_.root() + "/no-devices";
        std::filesystem::create_directories(noDevices + "/dev");
        ::setenv("CVN_DEVICE_ROOT", noDevices.c_str(), 1);
    }
    ~IdentificationTest() override { ::unsetenv("CVN_DEVICE_ROOT"); }

    // The first element of a JSON array, empty when there is none.
    static QJsonObject firstOf(const std::string& text) {
        const QJsonArray a = json(text).array();
        EXPECT_FALSE(a.isEmpty()) << text;
        return a.isEmpty() ? QJsonObject() : a[0].toObject();
    }

    static constexpr const char* kKey = "Corvane\\Linkara\\WavecatchIdn";
};

TEST_F(IdentificationTest, EveryCommandGivesTheAddInsVerdictOnOneReply) {
    profile(kKey, "CHAN1", false);
    struct Cell {
        const char* reply;
        bool supported;
    };
    // Supported when the whole reply names a listed model, in any case.
    const Cell cells[] = {
        {"CORVANE,MSOHX5104,CVN40517263,H3.07.0142", true},
        {"CORVANE,MSOHX5104X,CVN40517263,H3.07.0142", true},
        {"corvane,msohx5104,cvn1,h3", true},
        {"CORVANE,HALVIO", false},
        {"ACME,ACME1000,1,1", false},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.reply);
        sim::SimProcess sim({"--model", "MSOHX5104", "--idn", c.reply});
        const std::string dir = home_.root() + "/cap";
        std::filesystem::remove_all(dir);
        Run r = run(captureArgs(sim.address(), kKey, dir));
        EXPECT_EQ(r.status, c.supported ? 0 : kExitFailed) << r.err;
        EXPECT_EQ(std::filesystem::exists(dir + "/ch1.csv"), c.supported);

        r = run({"doctor", "--module", kModulePath, "--address", sim.address()});
        EXPECT_NE(r.out.find(c.supported ? "OK    model: " : "FAIL  model: "), std::string::npos)
            << r.out;

        r = run({"find", "--host", sim.address(), "--json"});
        EXPECT_EQ(r.status, c.supported ? 0 : kExitFailed) << r.err;
        EXPECT_EQ(firstOf(r.out)["supported"].toBool(), c.supported);

        r = run({"scope", "--module", kModulePath, "--address", sim.address(), "idn"});
        EXPECT_EQ(r.status, c.supported ? 0 : kExitFailed) << r.err;
        EXPECT_NE(r.out.find(c.supported ? "supported:    yes" : "supported:    no"),
                  std::string::npos)
            << r.out;
    }
}

TEST_F(IdentificationTest, BytesThatAreNotUtf8StayValidJsonAndControlBytesAreShownEscaped) {
    profile(kKey, "CHAN1", false);
    // A micro sign in Latin-1 and an escape byte, in the model field and after it.
    sim::SimProcess sim(
        {"--model", "MSOHX5104", "--idn", "CORVANE,MSOHX5104\xB5,CVN\x1b[2J,H3.07\xB5"});
    const QString micro = QString::fromUtf8("\xC2\xB5");

    Run r = run({"scpi", "--address", sim.address(), "--json", "*IDN?"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(firstOf(r.out)["reply"].toString(),
              "CORVANE,MSOHX5104" + micro + ",CVN\x1b[2J,H3.07" + micro + "\n");
    r = run({"scpi", "--address", sim.address(), "*IDN?"});
    EXPECT_EQ(r.out, "CORVANE,MSOHX5104\xC2\xB5,CVN\\x1b[2J,H3.07\xC2\xB5\n");

    r = run({"find", "--host", sim.address(), "--json"});
    const QJsonObject found = firstOf(r.out);
    EXPECT_EQ(found["model"].toString(), "MSOHX5104" + micro);
    EXPECT_EQ(found["serial"].toString(), "CVN\x1b[2J");
    r = run({"find", "--host", sim.address()});
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MSOHX5104\xC2\xB5"), std::string::npos) << r.out;

    const std::string dir = home_.root() + "/bytes";
    r = run(captureArgs(sim.address(), kKey, dir, {"--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json(r.out).object()["model"].toString(), "MSOHX5104" + micro);
    EXPECT_EQ(json(ReadWholeFile(dir + "/raw.json")).object()["model"].toString(),
              "MSOHX5104" + micro);
}

TEST(ReplyTextTest, BytesBecomeUtf8AndControlsBecomeEscapes) {
    struct Cell {
        std::string bytes, utf8, terminal;
    };
    const Cell cells[] = {
        {"+62500\n", "+62500\n", "+62500\n"},
        {"1 \xB5s", "1 \xC2\xB5s", "1 \xC2\xB5s"},          // Latin-1 micro
        {"9\xC2\xB0", "9\xC2\xB0", "9\xC2\xB0"},            // already UTF-8: kept
        {"\xE2\x82", "\xC3\xA2\xC2\x82", "\xC3\xA2\\x82"},  // a cut sequence: Latin-1, C1 escaped
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", "\xC3\xAD\xC2\xA0\\x80"},  // no surrogates
        {std::string("a\x1b[31mb\0c\r\td", 12), std::string("a\x1b[31mb\0c\r\td", 12),
         "a\\x1b[31mb\\x00c\\x0d\td"},
        {"\x7f\xC2\x9B", "\x7f\xC2\x9B", "\\x7f\\x9b"},
    };
    for (const Cell& c : cells) {
        EXPECT_EQ(Utf8Text(c.bytes), c.utf8) << c.bytes;
        EXPECT_EQ(TerminalText(c.bytes), c.terminal) << c.bytes;
    }
}

}  // namespace
}  // namespace cvn::host::test
