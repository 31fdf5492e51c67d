// The instrument discovery control: searches USB (usbtmc), the LAN hosts
// the user typed and, only when the user ticks them, the serial ports for
// instruments that answer "*IDN?", lists each with its address, maker and
// model and whether the model is one of the criteria's, and hands the
// user's pick back as the criteria's selected instrument. VXI-11 broadcast
// and mDNS discovery, which send beyond this computer, run only when the
// user presses their button.
//
// Handing criteria over starts a search and returns at once; probes run on
// worker threads and the list fills as answers come in. The typed host list
// is remembered per user.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dialog/CvnDiscovery.h"
#include "dialog/InstrumentSearch.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace cvn {

class CvnDiscoveryCtl : public QWidget {
public:
    // Where the typed hosts are remembered (per-user settings).
    static constexpr const char* kSettingsAppKey = "Corvane\\CvnDiscovery";
    static constexpr const char* kSettingsSection = "Search";
    static constexpr const char* kLanHostsKey = "LanHosts";

    enum Column { kColAddress = 0, kColMaker = 1, kColModel = 2, kColSupported = 3 };

    explicit CvnDiscoveryCtl(QWidget* parent = nullptr);
    ~CvnDiscoveryCtl() override;

    // Shows the buttons that open the picked instrument and ask it again.
    bool ConnectButtonsVisible() const { return connectButtonsVisible_; }
    void setConnectButtonsVisible(bool visible);
    // Shows the sentence that lists the criteria's models.
    bool SupportInstrumentsLabelVisible() const { return supportLabelVisible_; }
    void setSupportInstrumentsLabelVisible(bool visible);

    // Reading gives a new criteria object like the one handed over, whose
    // SelectedInstrument is the row the user selected (none without a
    // selection). Setting takes the criteria and starts a search; throws
    // cvn::Error when given none.
    std::shared_ptr<CvnDiscoveryCriteria> DiscoveryCriteria() const;
    void setDiscoveryCriteria(std::shared_ptr<CvnDiscoveryCriteria> criteria);
    // How many criteria objects were handed over since the control was made.
    int criteriaReceived() const { return criteriaReceived_; }

    void startSearch();
    void cancelSearch();
    // VXI-11 broadcast and mDNS on the local networks, then the usual probes
    // of what answered. Only ever started by the user's button.
    void startLanDiscovery();
    bool isSearching() const;

    // Root of the device and sysfs trees searched ("/"); tests point it at
    // an empty folder so that no real port of the machine is touched.
    static std::string& searchRoot();

    // Controls, by name as in the object names.
    QLabel* lblInstrumentType = nullptr;
    QLabel* lblSupportedInstruments = nullptr;
    QCheckBox* chkUsb = nullptr;
    QCheckBox* chkSerial = nullptr;
    QCheckBox* chkLan = nullptr;
    QLineEdit* txtLanHosts = nullptr;
    QPushButton* cmdSearch = nullptr;
    QPushButton* cmdCancelSearch = nullptr;
    QPushButton* cmdLanDiscovery = nullptr;
    QProgressBar* prgSearch = nullptr;
    QLabel* lblStatus = nullptr;
    QTreeWidget* lstInstruments = nullptr;
    QPushButton* cmdConnect = nullptr;

protected:
    // Enter in the host field starts the search and goes no further: the
    // dialog around the control must not take it for its default button.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildForm();
    void probe(std::vector<std::string> addresses);
    void addResult(unsigned generation, const ProbeResult& r);
    void finishSearch(unsigned generation);
    void showProgress();
    void testSelected();
    void reapRetired();
    bool modelSupported(const std::string& model) const;

    std::shared_ptr<CvnDiscoveryCriteria> criteria_;
    int criteriaReceived_ = 0;
    bool connectButtonsVisible_ = true;
    bool supportLabelVisible_ = true;
    std::unique_ptr<ProbeRun> run_;
    std::vector<std::unique_ptr<ProbeRun>> retired_;  // cancelled, still winding down
    std::thread lanDiscovery_;
    unsigned generation_ = 0;
    size_t asked_ = 0;
    size_t total_ = 0;
    std::vector<std::shared_ptr<CvnInstrument>> found_;  // row i of the list
    std::vector<std::string> listed_;                    // addresses shown
    std::string note_;  // what the search left out, shown with the status
};

}  // namespace cvn
