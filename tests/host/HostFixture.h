// Shared set-up of the host tests: a private home, settings and temporary
// folder per test, the real add-in module, and short-hands for dispatch.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "apps/wavecatch/Commands.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "host/Capture.h"
#include "io/IoSession.h"
#include "support/Error.h"
#include "support/SettingsStore.h"
#include "support/TempHome.h"

namespace cvn::host::test {

inline const std::string kModulePath = CVN_TEST_MODULE_PATH;

class HostTest : public ::testing::Test {
protected:
    HostTest() {
        tmp_ = home_.root() + "/tmp";
        std::filesystem::create_directories(tmp_);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
    }

    // The temporary folder of the previous test is gone; the next home is
    // made in the one the run started with.
    static bool restoreTmp() {
        static const char* const original = [] {
            const char* t = std::getenv("TMPDIR");
            return t ? strdup(t) : nullptr;
        }();
        if (original)
            ::setenv("TMPDIR", original, 1);
        else
            ::unsetenv("TMPDIR");
        return true;
    }

    static Connection create(const std::string& progId = CVN_PROGID_IWAVECATCH) {
        return CreateObject(progId, kModulePath);
    }

    static automation::Variant call(automation::IDispatchObject& o, const char* name,
                                    automation::Args args = {}) {
        return automation::invokeByName(o, name, automation::InvokeKind::Method, args);
    }

    // The error number a failing call raises, 0 when it succeeds.
    template <typename F>
    static int32_t errorOf(F&& f) {
        try {
            f();
        } catch (const Error& e) {
            return e.number();
        }
        return 0;
    }

    struct Run {
        int status;
        std::string out;
        std::string err;
    };
    static Run run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int status = RunWavecatch(args, out, err);
        return {status, out.str(), err.str()};
    }

    // A whole command line: the status, and `fragment` (none: "") in its
    // standard output or error.
    static void expectRun(const std::vector<std::string>& args, int status,
                          const std::string& fragment = "") {
        const Run r = run(args);
        EXPECT_EQ(r.status, status) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(fragment), std::string::npos) << r.out << r.err;
    }

    // `wavecatch capture` of the stored profile under `key` into `dir`.
    static std::vector<std::string> captureArgs(const std::string& address, const std::string& key,
                                                const std::string& dir,
                                                std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"capture",   "--module", kModulePath,
                                         "--address", address,    "--registry-key",
                                         key,         "--out",    dir};
        if (std::find(extra.begin(), extra.end(), "--points") == extra.end())
            extra.insert(extra.begin(), {"--points", "1000"});
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // Stores the capture profile the add-in's dialog would have stored.
    static void profile(const std::string& key, const std::string& sources, bool screen,
                        bool splitFirstPod = false) {
        const std::string k = SettingsKeyFor(key);
        SaveSetting(k, "Settings", "ActiveChannels", sources);
        SaveSetting(k, "Settings", "Screen", screen ? "1" : "0");
        SaveSetting(k, "Settings", "D0D7", splitFirstPod ? "1" : "0");
    }

    // Commands to the simulator on a link of their own, settled before
    // anyone else asks.
    static void tellSim(const std::string& address, const std::string& commands) {
        auto side = io::IoManager().Open(address);
        side->Output(commands);
        side->Output(":SIMulator:LOG:COUNt?");
        side->EnterText();
    }

    // Output of a shell command with its exit status.
    static std::pair<int, std::string> shell(const std::string& command) {
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return {-1, ""};
        std::string out;
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
        return {::pclose(pipe), out};
    }

    static QJsonDocument json(const std::string& text) {
        QJsonParseError error{};
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
        return doc;
    }

    bool tmpRestored_ = restoreTmp();
    cvn::test::TempHome home_;
    std::string tmp_;
};

}  // namespace cvn::host::test
