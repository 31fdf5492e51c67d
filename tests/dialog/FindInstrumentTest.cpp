// The Find Instrument dialog and its discovery control, driven as a user
// would: a search over loopback hosts, OK with and without a pick, Cancel,
// and loading with a broken model list. Two simulators stand in for the
// instruments on the LAN; USB and serial ports are searched in an empty
// folder, so no device of the machine is touched.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "dialog/CvnDiscoveryCtl.h"
#include "dialog/InstrumentSearch.h"
#include "dialog/frmFindInstrument.h"
#include "scope/ModelTable.h"
#include "tests/dialog/DialogTestSupport.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;

// Runs events until cond holds; false when it has not within the bound
// (a guard against hanging, not a timing check).
bool waitFor(const std::function<bool()>& cond) {
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > bound) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QTreeWidgetItem* rowOf(QTreeWidget* list, const std::string& address) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        auto* item = list->topLevelItem(i);
        if (item->text(CvnDiscoveryCtl::kColAddress).toStdString() == address) return item;
    }
    return nullptr;
}

class FindInstrumentTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        emptyRoot_ =
            std::filesystem::temp_directory_path() / ("cvn-find-" + std::to_string(::getpid()));
        std::filesystem::create_directories(emptyRoot_);
        CvnDiscoveryCtl::searchRoot() = emptyRoot_.string();
        frmFindInstrument::modalHook = nullptr;
    }
    void TearDown() override {
        frmFindInstrument::modalHook = nullptr;
        CvnDiscoveryCtl::searchRoot() = "/";
        std::error_code ignored;
        std::filesystem::remove_all(emptyRoot_, ignored);
        DialogTest::TearDown();
    }
    static void typeHosts(const std::string& hosts) {
        SaveSetting(CvnDiscoveryCtl::kSettingsAppKey, CvnDiscoveryCtl::kSettingsSection,
                    CvnDiscoveryCtl::kLanHostsKey, hosts);
    }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& b : ui_->boxes()) texts.push_back(b.text);
        return texts;
    }

    std::filesystem::path emptyRoot_;
};

TEST_F(FindInstrumentTest, SearchListsLoopbackScopesAndOkConnectsToThePick) {
    sim::SimProcess supported({"--model", "HV1014"});
    sim::SimProcess foreign({"--model", "ZZ9000"});
    typeHosts(supported.address() + ", " + foreign.address());

    bool searched = false;
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        CvnDiscoveryCtl* ctl = form.CvnDiscoveryCtl1;
        // Loading handed the criteria over after its wait, with the
        // busy cursor on and off again, and set the two options.
        EXPECT_EQ(ctl->criteriaReceived(), 1);
        EXPECT_FALSE(ui_->busy());
        EXPECT_GE(ui_->totalWait().count(), 500);
        EXPECT_FALSE(ctl->ConnectButtonsVisible());
        EXPECT_TRUE(ctl->SupportInstrumentsLabelVisible());
        EXPECT_NE(ctl->lblSupportedInstruments->text().indexOf("HV1014"), -1);
        EXPECT_EQ(form.modelList(), gModels);
        EXPECT_EQ(ctl->txtLanHosts->text().toStdString(),
                  supported.address() + ", " + foreign.address());

        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        searched = true;
        QTreeWidget* list = ctl->lstInstruments;
        ASSERT_EQ(list->topLevelItemCount(), 2);
        auto* good = rowOf(list, supported.address());
        auto* other = rowOf(list, foreign.address());
        ASSERT_TRUE(good && other);
        EXPECT_EQ(good->text(CvnDiscoveryCtl::kColMaker), "CORVANE");
        EXPECT_EQ(good->text(CvnDiscoveryCtl::kColModel), "HV1014");
        EXPECT_EQ(good->text(CvnDiscoveryCtl::kColSupported), "Yes");
        EXPECT_EQ(other->text(CvnDiscoveryCtl::kColModel), "ZZ9000");
        EXPECT_EQ(other->text(CvnDiscoveryCtl::kColSupported), "No");

        // OK without a pick, twice: "No connection." each time, still open.
        ui_->reset();
        form.cmdOK->click();
        form.cmdOK->click();
        EXPECT_EQ(boxTexts().size(), 2u);
        for (const auto& t : boxTexts()) EXPECT_EQ(t.rfind("No connection.", 0), 0u) << t;
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.Cancel());
        EXPECT_EQ(form.ioAddress(), "");

        list->setCurrentItem(good);
        good->setSelected(true);
        form.cmdOK->click();
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(form.Cancel());
        EXPECT_EQ(form.ioAddress(), supported.address());
    };

    // Nothing stored: the capture dialog fails on its default address and
    // opens on the I/O tab; Find Instrument then connects.
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
        EXPECT_FALSE(d.SSTab1->isTabEnabled(D::kTabWaveform));
        ui_->reset();
        d.cmdFindInstrument->click();
        EXPECT_TRUE(searched);
        EXPECT_EQ(d.InstrumentAddress(), supported.address());
        EXPECT_EQ(d.lblConnected->text(), "");
        for (int t = 0; t < 3; ++t) EXPECT_TRUE(d.SSTab1->isTabEnabled(t)) << t;
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);  // the tab stays
        EXPECT_TRUE(d.cmdOK->isEnabled());               // and OK can take the profile there
        EXPECT_TRUE(D::isAvailable(d.chkBitMap));
        EXPECT_TRUE(D::isAvailable(d.chkWaveform));
        ASSERT_TRUE(gSession);
        EXPECT_EQ(gSession->Address(), supported.address());
        // The scope state was read: channels 1 and 2 are on its screen.
        EXPECT_TRUE(D::isAvailable(d.chkChan[0]));
        EXPECT_FALSE(D::isAvailable(d.chkChan[2]));
        d.cmdCancel_Click();
    }));
    EXPECT_EQ(stored(kKeyAddress), supported.address());
}

// Enter in the host field searches the hosts typed there; the dialog's own
// default button (OK into a list still empty) is not pressed with it.
TEST_F(FindInstrumentTest, EnterInTheHostFieldOnlySearches) {
    sim::SimProcess scope({"--model", "HV1014"});
    typeHosts("");
    bool reached = false;
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        reached = true;
        CvnDiscoveryCtl* ctl = form.CvnDiscoveryCtl1;
        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        EXPECT_EQ(ctl->lstInstruments->topLevelItemCount(), 0);
        ui_->reset();
        ctl->txtLanHosts->setFocus();
        ctl->txtLanHosts->setText(QString::fromStdString(scope.address()));
        QTest::keyClick(ctl->txtLanHosts, Qt::Key_Return);
        EXPECT_TRUE(ui_->boxes().empty()) << ui_->boxes().front().text;
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.Cancel());
        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        ASSERT_EQ(ctl->lstInstruments->topLevelItemCount(), 1);
        EXPECT_EQ(
            ctl->lstInstruments->topLevelItem(0)->text(CvnDiscoveryCtl::kColAddress).toStdString(),
            scope.address());
        // The keypad's Enter too.
        QTest::keyClick(ctl->txtLanHosts, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(ui_->boxes().empty());
        EXPECT_TRUE(form.isVisible());
        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        form.cmdCancel->click();
    };
    frmFindInstrument form;
    form.showModal();
    EXPECT_TRUE(reached);
    EXPECT_TRUE(form.Cancel());
}

TEST_F(FindInstrumentTest, CancelLeavesTheScopeDisconnected) {
    sim::SimProcess scope({"--model", "HV1014"});
    store(kKeyAddress, scope.address());
    typeHosts("");
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        EXPECT_EQ(gSession, nullptr);  // released while the dialog is open
        form.cmdCancel->click();
        EXPECT_TRUE(form.Cancel());
        EXPECT_EQ(form.ioAddress(), "");
    };
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_TRUE(gSession);
        d.SSTab1->setCurrentIndex(D::kTabIo);
        d.cmdFindInstrument->click();
        EXPECT_EQ(gSession, nullptr);
        EXPECT_EQ(d.lblConnected->text(), "The instrument is not connected.");
        EXPECT_FALSE(d.cmdOK->isEnabled());
        EXPECT_EQ(d.InstrumentAddress(), scope.address());
        d.cmdCancel_Click();
    }));

    // Closing the window instead of Cancel ends the same way.
    frmFindInstrument::modalHook = [](frmFindInstrument& form) { form.close(); };
    frmFindInstrument form;
    form.showModal();
    EXPECT_TRUE(form.Cancel());
    EXPECT_EQ(form.ioAddress(), "");
}

TEST_F(FindInstrumentTest, DuplicateModelStopsLoadingBeforeTheSearch) {
    LoadModelTable();
    const std::string saved = gModelList;
    gModelList = "HV1014,HV1024,HV1014";
    {
        frmFindInstrument form;
        EXPECT_EQ(form.CvnDiscoveryCtl1->criteriaReceived(), 0);
        EXPECT_FALSE(form.CvnDiscoveryCtl1->isSearching());
        EXPECT_FALSE(ui_->busy());
        EXPECT_EQ(ui_->totalWait().count(), 0);
        EXPECT_TRUE(form.Cancel());
        EXPECT_TRUE(ui_->boxes().empty());  // nothing is reported
        // The dialog is still usable: OK without a pick says so.
        form.cmdOK_Click();
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u);
    }
    gModelList = saved;

    // The collections themselves: keys ignore case, a duplicate fails and
    // leaves the collection as it was.
    CvnStringCollection models;
    models.Add("HV1014", "HV1014");
    try {
        models.Add("x", "hv1014");
        ADD_FAILURE() << "duplicate key accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kDiscoveryDuplicateKey);
    }
    EXPECT_EQ(models.Count(), 1u);
    EXPECT_EQ(models.Item(1), "HV1014");
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
    bool reached = false;
    frmFindInstrument::modalHook = [&](frmFindInstrument& form) {
        reached = true;
        CvnDiscoveryCtl* ctl = form.CvnDiscoveryCtl1;
        EXPECT_EQ(ctl->criteriaReceived(), 1);  // the search on opening ran
        EXPECT_FALSE(ctl->chkSerial->isChecked());
        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        EXPECT_EQ(sent(), "");

        ctl->chkSerial->click();
        ctl->cmdSearch->click();
        ASSERT_TRUE(waitFor([&] { return !ctl->isSearching(); }));
        EXPECT_NE(sent().find("*IDN?"), std::string::npos);
        form.cmdCancel->click();
    };
    {
        frmFindInstrument form;
        form.showModal();
    }
    ::unsetenv("CVN_SERIAL_PORTS");
    ::close(slave);
    ::close(master);
    EXPECT_TRUE(reached);
}

TEST_F(FindInstrumentTest, CandidatesComeFromTypedHostsUsbAndSerialPorts) {
    EXPECT_EQ(SplitHostList(" a, b;c\n\td  "), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(SplitHostList(" ,; ").empty());
    // A bare host is asked both ways; anything with a port or bus as typed.
    EXPECT_EQ(LanAddresses("scope7"),
              (std::vector<std::string>{"scope7:5025", "TCPIP::scope7::INSTR"}));
    EXPECT_EQ(LanAddresses("10.0.0.7:5025"), (std::vector<std::string>{"10.0.0.7:5025"}));
    EXPECT_EQ(LanAddresses("TCPIP::10.0.0.7::INSTR"),
              (std::vector<std::string>{"TCPIP::10.0.0.7::INSTR"}));

    // A device tree of our own: one usbtmc instrument with sysfs ids, one
    // bare node, and serial ports in numeric order.
    namespace fs = std::filesystem;
    const fs::path root = emptyRoot_;
    const fs::path usbDevice = root / "sys/devices/usb1/1-1";
    fs::create_directories(usbDevice / "1-1:1.0");
    auto write = [](const fs::path& p, const std::string& text) {
        std::ofstream(p) << text << "\n";
    };
    write(usbDevice / "idVendor", "1a2b");
    write(usbDevice / "idProduct", "0003");
    write(usbDevice / "serial", "SN42");
    fs::create_directories(root / "sys/class/usbmisc/usbtmc0");
    fs::create_directory_symlink(usbDevice / "1-1:1.0", root / "sys/class/usbmisc/usbtmc0/device");
    fs::create_directories(root / "dev");
    for (const char* node :
         {"usbtmc0", "usbtmc3", "ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "tty0", "ttyS"})
        write(root / "dev" / node, "");
    EXPECT_EQ(UsbAddresses(root.string()),
              (std::vector<std::string>{"USB0::0x1a2b::0x0003::SN42::INSTR", "/dev/usbtmc3"}));
    EXPECT_EQ(SerialAddresses(root.string()),
              (std::vector<std::string>{"ASRL/dev/ttyS2::INSTR", "ASRL/dev/ttyS10::INSTR",
                                        "ASRL/dev/ttyACM1::INSTR", "ASRL/dev/ttyUSB0::INSTR"}));

    // A probe that finds nobody says why, without throwing.
    const ProbeResult r = Probe("127.0.0.1:1", 500, 200);
    EXPECT_FALSE(r.answered);
    EXPECT_FALSE(r.error.empty());
}

}  // namespace
}  // namespace cvn::test
