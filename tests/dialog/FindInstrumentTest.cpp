// The Find Instrument dialog and its discovery control, driven as a user
// would. Simulators stand in for the instruments on the LAN; USB and serial
// ports are searched in an empty folder, so no device of the machine is
// touched.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "dialog/CvnDiscoveryCtl.h"
#include "dialog/InstrumentSearch.h"
#include "dialog/frmFindInstrument.h"
#include "scope/ModelTable.h"
#include "tests/dialog/DialogTestSupport.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;
using C = CvnDiscoveryCtl;
using Texts = std::vector<std::string>;

// Runs events until the search is over; false when it has not ended within
// the bound (a guard against hanging, not a timing check).
bool searchEnds(C* ctl) {
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ctl->isSearching()) {
        if (std::chrono::steady_clock::now() > bound) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Each row of the list as "address maker model supported".
Texts rows(C* ctl) {
    Texts out;
    for (int i = 0; i < ctl->lstInstruments->topLevelItemCount(); ++i) {
        auto* item = ctl->lstInstruments->topLevelItem(i);
        out.push_back((item->text(C::kColAddress) + " " + item->text(C::kColMaker) + " " +
                       item->text(C::kColModel) + " " + item->text(C::kColSupported))
                          .toStdString());
    }
    std::sort(out.begin(), out.end());
    return out;
}

class FindInstrumentTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        std::filesystem::create_directories(emptyRoot_);
        C::searchRoot() = emptyRoot_.string();
    }
    void TearDown() override {
        frmFindInstrument::modalHook = nullptr;
        C::searchRoot() = "/";
        std::filesystem::remove_all(emptyRoot_);
        DialogTest::TearDown();
    }
    static void typeHosts(const std::string& hosts) {
        SaveSetting(C::kSettingsAppKey, C::kSettingsSection, C::kLanHostsKey, hosts);
    }
    // Opens the dialog on its own with `inside` as the user.
    static void open(const std::function<void(frmFindInstrument&, C*)>& inside) {
        bool reached = false;
        frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
            reached = true;
            inside(form, form.CvnDiscoveryCtl1);
        };
        frmFindInstrument form;
        form.showModal();
        EXPECT_TRUE(reached);
        EXPECT_TRUE(form.Cancel());
        EXPECT_EQ(form.ioAddress(), "");
    }
    bool onlyNoConnection(size_t n) const {
        bool all = ui_->boxes().size() == n;
        for (const auto& b : ui_->boxes()) all &= b.text.rfind("No connection.", 0) == 0;
        return all;
    }

    std::filesystem::path emptyRoot_ =
        std::filesystem::temp_directory_path() / ("cvn-find-" + std::to_string(::getpid()));
};

TEST_F(FindInstrumentTest, SearchListsLoopbackScopesAndOkConnectsToThePick) {
    sim::SimProcess supported({"--model", "HV1014"});
    sim::SimProcess foreign({"--model", "ZZ9000"});
    typeHosts(supported.address() + ", " + foreign.address());
    bool searched = false;
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        C* ctl = form.CvnDiscoveryCtl1;
        // Loading handed the criteria over after its wait, with the busy
        // cursor on and off again, and set the two options.
        EXPECT_EQ(ctl->criteriaReceived(), 1);
        EXPECT_FALSE(ui_->busy());
        EXPECT_GE(ui_->totalWait().count(), 500);
        EXPECT_FALSE(ctl->ConnectButtonsVisible());
        EXPECT_TRUE(ctl->SupportInstrumentsLabelVisible());
        EXPECT_NE(ctl->lblSupportedInstruments->text().indexOf("HV1014"), -1);
        EXPECT_EQ(form.modelList(), gModels);
        ASSERT_TRUE(searchEnds(ctl));
        searched = true;
        Texts expected{supported.address() + " CORVANE HV1014 Yes",
                       foreign.address() + " CORVANE ZZ9000 No"};
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(rows(ctl), expected);
        // OK without a pick, twice: "No connection." each time, still open.
        ui_->reset();
        form.cmdOK->click();
        form.cmdOK->click();
        EXPECT_TRUE(onlyNoConnection(2));
        EXPECT_TRUE(form.isVisible() && form.Cancel());
        for (int i = 0; i < 2; ++i) {
            auto* item = ctl->lstInstruments->topLevelItem(i);
            if (item->text(C::kColModel) != "HV1014") continue;
            ctl->lstInstruments->setCurrentItem(item);
            item->setSelected(true);
        }
        form.cmdOK->click();
        EXPECT_FALSE(form.isVisible() || form.Cancel());
        EXPECT_EQ(form.ioAddress(), supported.address());
    };
    // Nothing stored: the capture dialog fails on its default address and
    // opens on the I/O tab; Find Instrument then connects.
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_FALSE(d.SSTab1->isTabEnabled(D::kTabWaveform));
        d.cmdFindInstrument->click();
        EXPECT_TRUE(searched);
        EXPECT_EQ(d.InstrumentAddress(), supported.address());
        EXPECT_EQ(d.lblConnected->text(), "");
        for (int t = 0; t < 3; ++t) EXPECT_TRUE(d.SSTab1->isTabEnabled(t)) << t;
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);  // the tab stays
        EXPECT_TRUE(d.cmdOK->isEnabled() && D::isAvailable(d.chkBitMap));
        ASSERT_TRUE(gSession);
        EXPECT_EQ(gSession->Address(), supported.address());
        // The scope state was read: channels 1 and 2 are on its screen.
        EXPECT_TRUE(D::isAvailable(d.chkChan[0]));
        EXPECT_FALSE(D::isAvailable(d.chkChan[2]));
        d.cmdCancel_Click();
    }));
    EXPECT_EQ(stored("Corvane Halvio Series"), supported.address());
}

// Enter in the host field (either Enter key) searches the hosts typed
// there; the dialog's own default button is not pressed with it.
TEST_F(FindInstrumentTest, EnterInTheHostFieldOnlySearches) {
    sim::SimProcess scope({"--model", "HV1014"});
    typeHosts("");
    open([&](frmFindInstrument& form, C* ctl) {
        ASSERT_TRUE(searchEnds(ctl));
        EXPECT_EQ(rows(ctl), Texts{});
        ui_->reset();
        ctl->txtLanHosts->setFocus();
        ctl->txtLanHosts->setText(QString::fromStdString(scope.address()));
        for (auto modifier : {Qt::NoModifier, Qt::KeypadModifier}) {
            QTest::keyClick(ctl->txtLanHosts, modifier ? Qt::Key_Enter : Qt::Key_Return, modifier);
            EXPECT_TRUE(ui_->boxes().empty());
            EXPECT_TRUE(form.isVisible());
            ASSERT_TRUE(searchEnds(ctl));
            ASSERT_EQ(rows(ctl).size(), 1u);
            EXPECT_EQ(rows(ctl)[0].rfind(scope.address() + " CORVANE HV1014 ", 0), 0u);
        }
        form.cmdCancel->click();
    });
}

TEST_F(FindInstrumentTest, CancelOrCloseLeavesTheScopeDisconnected) {
    sim::SimProcess scope({"--model", "HV1014"});
    store("Corvane Halvio Series", scope.address());
    typeHosts("");
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        EXPECT_EQ(gSession, nullptr);  // released while the dialog is open
        form.cmdCancel->click();
        EXPECT_TRUE(form.Cancel());
    };
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_TRUE(gSession);
        d.cmdFindInstrument->click();
        EXPECT_EQ(gSession, nullptr);
        EXPECT_EQ(d.lblConnected->text(), "The instrument is not connected.");
        EXPECT_FALSE(d.cmdOK->isEnabled());
        EXPECT_EQ(d.InstrumentAddress(), scope.address());
        d.cmdCancel_Click();
    }));
    open([](frmFindInstrument& form, C*) { form.close(); });
}

TEST_F(FindInstrumentTest, DuplicateModelStopsLoadingBeforeTheSearch) {
    LoadModelTable();
    const std::string saved = gModelList;
    gModelList = "HV1014,HV1024,HV1014";
    {
        frmFindInstrument form;
        EXPECT_EQ(form.CvnDiscoveryCtl1->criteriaReceived(), 0);
        EXPECT_FALSE(form.CvnDiscoveryCtl1->isSearching() || ui_->busy());
        EXPECT_EQ(ui_->totalWait().count(), 0);
        EXPECT_TRUE(ui_->boxes().empty());  // nothing is reported
        form.cmdOK_Click();                 // still usable: OK without a pick says so
        EXPECT_TRUE(onlyNoConnection(1));
    }
    gModelList = saved;
    // Keys ignore case; a duplicate fails and leaves the collection as it was.
    CvnStringCollection models;
    models.Add("HV1014", "HV1014");
    try {
        models.Add("x", "hv1014");
        ADD_FAILURE() << "duplicate key accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kDiscoveryDuplicateKey);
    }
    EXPECT_EQ(models.Count(), 1u);
    EXPECT_THROW(models.Item(2), Error);
}

// A serial port gets "*IDN?" only once the user ticks "Serial ports": a
// modem or a UPS there never asked for it. The port is a pseudo-terminal
// of the test's own, whose other end shows every byte sent to it.
TEST_F(FindInstrumentTest, SerialPortsAreAskedOnlyWhenTicked) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::setenv("CVN_SERIAL_PORTS", name, 1);
    typeHosts("");
    const auto sent = [&] {
        std::string bytes;
        char buf[256];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) bytes.append(buf, size_t(n));
        return bytes;
    };
    open([&](frmFindInstrument& form, C* ctl) {
        EXPECT_EQ(ctl->criteriaReceived(), 1);  // the search on opening ran
        ASSERT_TRUE(searchEnds(ctl));
        EXPECT_EQ(sent(), "");
        ctl->chkSerial->click();
        ctl->cmdSearch->click();
        ASSERT_TRUE(searchEnds(ctl));
        EXPECT_NE(sent().find("*IDN?"), std::string::npos);
        form.cmdCancel->click();
    });
    ::unsetenv("CVN_SERIAL_PORTS");
    ::close(slave);
    ::close(master);
}

TEST_F(FindInstrumentTest, CandidatesComeFromTypedHostsUsbAndSerialPorts) {
    EXPECT_EQ(SplitHostList(" a, b;c\n\td  "), (Texts{"a", "b", "c", "d"}));
    EXPECT_TRUE(SplitHostList(" ,; ").empty());
    // A bare host is asked both ways; anything with a port or bus as typed.
    EXPECT_EQ(LanAddresses("scope7"), (Texts{"scope7:5025", "TCPIP::scope7::INSTR"}));
    EXPECT_EQ(LanAddresses("10.0.0.7:5025"), (Texts{"10.0.0.7:5025"}));
    EXPECT_EQ(LanAddresses("TCPIP::10.0.0.7::INSTR"), (Texts{"TCPIP::10.0.0.7::INSTR"}));

    // A device tree of our own: one usbtmc instrument with sysfs ids, one
    // bare node, and serial ports in numeric order.
    namespace fs = std::filesystem;
    const fs::path usbDevice = emptyRoot_ / "sys/devices/usb1/1-1";
    fs::create_directories(usbDevice / "1-1:1.0");
    fs::create_directories(emptyRoot_ / "sys/class/usbmisc/usbtmc0");
    fs::create_directories(emptyRoot_ / "dev");
    const auto write = [](const fs::path& p, const std::string& text) {
        std::ofstream(p) << text << "\n";
    };
    write(usbDevice / "idVendor", "1a2b");
    write(usbDevice / "idProduct", "0003");
    write(usbDevice / "serial", "SN42");
    fs::create_directory_symlink(usbDevice / "1-1:1.0",
                                 emptyRoot_ / "sys/class/usbmisc/usbtmc0/device");
    for (const char* node :
         {"usbtmc0", "usbtmc3", "ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "tty0", "ttyS"})
        write(emptyRoot_ / "dev" / node, "");
    EXPECT_EQ(UsbAddresses(emptyRoot_),
              (Texts{"USB0::0x1a2b::0x0003::SN42::INSTR", "/dev/usbtmc3"}));
    EXPECT_EQ(SerialAddresses(emptyRoot_),
              (Texts{"ASRL/dev/ttyS2::INSTR", "ASRL/dev/ttyS10::INSTR", "ASRL/dev/ttyACM1::INSTR",
                     "ASRL/dev/ttyUSB0::INSTR"}));
    // A probe that finds nobody says why, without throwing.
    const ProbeResult r = Probe("127.0.0.1:1", 500, 200);
    EXPECT_FALSE(r.answered || r.error.empty());
}

}  // namespace
}  // namespace cvn::test
