// A capture uses the address it was given, whatever another process does
// to the user's shared profile meanwhile, and leaves no private keys behind.
#include <stdio.h>

#include <filesystem>
#include <functional>
#include <future>

#include "host/Capture.h"
#include "host/HostFixture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

namespace fs = std::filesystem;
using automation::Args;
using automation::DispId;
using automation::InterfaceInfo;
using automation::InvokeKind;
using automation::Variant;

constexpr const char* kKey = "Corvane\\Linkara\\WavecatchRuns";

// The add-in object as the host reaches it, with "another process" acting
// on the user's profile just as the retrieval starts.
class Interposed : public automation::IDispatchObject {
public:
    Interposed(automation::IDispatchObject& inner, std::function<void()> atStart)
        : inner_(inner), atStart_(std::move(atStart)) {}
    DispId GetIDsOfNames(std::string_view name) const override {
        return inner_.GetIDsOfNames(name);
    }
    Variant Invoke(DispId id, InvokeKind kind, Args& args) override {
        if (id == inner_.GetIDsOfNames("GetDataFromInstrument")) atStart_();
        return inner_.Invoke(id, kind, args);
    }
    const InterfaceInfo& GetTypeInfo() const override { return inner_.GetTypeInfo(); }

private:
    automation::IDispatchObject& inner_;
    std::function<void()> atStart_;
};

class RunProfileTest : public HostTest {
protected:
    RunProfileTest() {
        EnsureGuiApplication(false);
        SaveSetting(userKey_, "Settings", "ActiveChannels", "CHAN1");
        SaveSetting(userKey_, "Settings", "Screen", "0");
    }

    // Every settings file below the configuration folder.
    std::vector<std::string> settingsFiles() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(home_.configHome()))
            out.push_back(fs::relative(e.path(), home_.configHome()).string());
        std::sort(out.begin(), out.end());
        return out;
    }

    const std::string userKey_ = SettingsKeyFor(std::string(kKey));
    sim::SimProcess mine_{{"--model", "MSOHX5104"}};
    sim::SimProcess theirs_{{"--model", "MSOHX6104"}};
};

TEST_F(RunProfileTest, AProfileWrittenMidRunDoesNotRedirectIt) {
    const std::vector<std::string> before = settingsFiles();
    Connection c = CreateObject(CVN_PROGID_IWAVECATCH, kModulePath);
    automation::Ref<Interposed> wc(new Interposed(
        *c.object, [&] { SaveSetting(userKey_, "Settings", kDeviceName, theirs_.address()); }));
    CaptureRequest req;
    req.address = mine_.address();
    req.registryKey = kKey;
    req.points = "1000";
    const CaptureResult r = RunCapture(*wc, req);
    EXPECT_EQ(r.model, "MSOHX5104");
    ASSERT_EQ(r.sets.size(), 1u);
    // Connected, so the address is stored as the add-in stores it, along
    // with the points choice; the run's own key is gone.
    EXPECT_EQ(GetSetting(userKey_, "Settings", kDeviceName), mine_.address());
    EXPECT_EQ(GetSetting(userKey_, "Settings", "Number Points"), " 1000");
    EXPECT_EQ(settingsFiles(), before);

    // A run that connects nowhere stores nothing, and cleans up as well.
    SaveSetting(userKey_, "Settings", kDeviceName, theirs_.address());
    req.address = "127.0.0.1:1";
    const CaptureResult none = RunCapture(*c.object, req);
    EXPECT_TRUE(none.cancel);
    EXPECT_EQ(GetSetting(userKey_, "Settings", kDeviceName), theirs_.address());
    EXPECT_EQ(settingsFiles(), before);
}

TEST_F(RunProfileTest, TwoCapturesAtOnceEachGetTheirOwnScope) {
    // Two wavecatch programs started together, a few times over (each
    // pair is what two terminals do).
    auto capture = [&](const sim::SimProcess& sim, const std::string& dir) {
        const std::string command = "timeout 60 '" + std::string(CVN_WAVECATCH_PATH) +
                                    "' capture --module '" + kModulePath + "' --address " +
                                    sim.address() + " --registry-key '" + kKey +
                                    "' --points 100 --json --out '" + dir + "' 2>&1";
        return shell(command).second;
    };
    for (int round = 0; round < 4; ++round) {
        const std::string base = home_.root() + "/r" + std::to_string(round);
        auto a = std::async(std::launch::async, capture, std::cref(mine_), base + "a");
        auto b = std::async(std::launch::async, capture, std::cref(theirs_), base + "b");
        const std::string outA = a.get(), outB = b.get();
        EXPECT_NE(outA.find("MSOHX5104"), std::string::npos) << round << ": " << outA;
        EXPECT_EQ(outA.find("MSOHX6104"), std::string::npos) << round << ": " << outA;
        EXPECT_NE(outB.find("MSOHX6104"), std::string::npos) << round << ": " << outB;
        EXPECT_EQ(outB.find("MSOHX5104"), std::string::npos) << round << ": " << outB;
    }
}

}  // namespace
}  // namespace cvn::host::test
