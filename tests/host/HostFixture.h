// Shared set-up of the host tests: a private home, settings and temporary
// folder per test, the real add-in module, and short-hands for dispatch.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "apps/wavecatch/Commands.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "support/Error.h"
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

    bool tmpRestored_ = restoreTmp();
    cvn::test::TempHome home_;
    std::string tmp_;
};

}  // namespace cvn::host::test
