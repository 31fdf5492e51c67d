// Shared pieces of the dialog tests: a fixture that gives every test its
// own settings key, a scripted UI, no open sessions and a freshly loaded
// dialog; a second connection to look at or change the simulator; and a
// scripted byte transport for replies a real scope would not send.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialog/FWCdlgHalv.h"
#include "dialog/QtLocalizeForm.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "support/SettingsStore.h"

namespace cvn::test {

inline constexpr const char* kMissing = "<missing>";

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = ScriptedUi::install();
        const char* state = std::getenv("XDG_STATE_HOME");
        gErrorHandler = std::make_shared<CErrorHandler>(state ? state : "");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        SettingsAppKey() =
            std::string("CvnTests\\Dialog\\") + info->test_suite_name() + "." + info->name();
        resetConnections();
        unloadCaptureDialog();
        FWCdlgHalv::modalHook = nullptr;
    }
    void TearDown() override {
        FWCdlgHalv::modalHook = nullptr;
        unloadCaptureDialog();
        resetConnections();
        ScriptedUi::uninstall();
    }
    static void resetConnections() {
        gSession.reset();
        gIoManager.reset();
        gScope.reset();
    }

    static std::string stored(const char* key) {
        return GetSetting(SettingsAppKey(), kSettingsSection, key, kMissing);
    }
    static void store(const char* key, const std::string& value) {
        SaveSetting(SettingsAppKey(), kSettingsSection, key, value);
    }

    // Shows the shared dialog; `inside` runs while it is "modal". Returns
    // whether the modal part was reached.
    static bool show(const std::function<void(FWCdlgHalv&)>& inside, bool doShow = true) {
        bool reached = false;
        FWCdlgHalv::modalHook = [&](FWCdlgHalv& dlg) {
            reached = true;
            if (inside) inside(dlg);
        };
        captureDialog().showDialog(doShow, "");
        FWCdlgHalv::modalHook = nullptr;
        return reached;
    }

    std::shared_ptr<ScriptedUi> ui_;
};

// A query, or a command, to the simulator over a connection of its own.
inline std::string ask(const sim::SimProcess& sim, const std::string& query) {
    auto session = io::IoManager().Open(sim.address());
    session->Output(query);
    return session->EnterText();
}
inline void tell(const sim::SimProcess& sim, const std::string& command) {
    ask(sim, command + ";*OPC?");  // answered once the command has been handled
}

inline QStringList items(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i) list << box->itemText(i);
    return list;
}

// Answers commands from a table, as text replies; an unknown query gets no
// answer, which the session reports as a time-out.
class ScriptedTransport final : public io::Transport {
public:
    using Replies = std::map<std::string, std::string>;
    ScriptedTransport(std::shared_ptr<Replies> replies,
                      std::shared_ptr<std::vector<std::string>> log)
        : replies_(std::move(replies)), log_(std::move(log)) {}

    void write(const uint8_t* data, size_t size, io::Deadline) override {
        std::string command(reinterpret_cast<const char*>(data), size);
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
            command.pop_back();
        log_->push_back(command);
        auto it = replies_->find(command);
        if (it != replies_->end())
            pending_.insert(pending_.end(), it->second.begin(), it->second.end());
    }
    size_t read(uint8_t* data, size_t size, io::Deadline, bool& end) override {
        end = false;
        if (pending_.empty()) throw io::IoError(io::kIoTimeout, "No reply scripted");
        size_t n = 0;
        while (n < size && !pending_.empty()) {
            data[n++] = static_cast<uint8_t>(pending_.front());
            pending_.pop_front();
        }
        return n;
    }

private:
    std::shared_ptr<Replies> replies_;
    std::shared_ptr<std::vector<std::string>> log_;
    std::deque<char> pending_;
};

// Makes gSession a scripted session; the returned table and log stay live.
struct ScriptedSession {
    std::shared_ptr<ScriptedTransport::Replies> replies =
        std::make_shared<ScriptedTransport::Replies>();
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
    void install() {
        gSession = std::make_shared<io::IoSession>(
            "scripted", std::make_unique<ScriptedTransport>(replies, log));
    }
};

}  // namespace cvn::test
