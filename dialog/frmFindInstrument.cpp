// The Find Instrument dialog and the capture dialog's action that runs it.
#include "dialog/frmFindInstrument.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <chrono>

#include "dialog/CvnDiscoveryCtl.h"
#include "dialog/FWCdlgHalv.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/ErrorHandler.h"
#include "support/SkipOnError.h"
#include "support/StringTable.h"
#include "support/UiServices.h"

namespace cvn {

std::function<void(frmFindInstrument&)> frmFindInstrument::modalHook;

namespace {

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

}  // namespace

frmFindInstrument::frmFindInstrument(QWidget* parent) : QDialog(parent) {
    setObjectName("frmFindInstrument");
    setWindowTitle("Find Instrument");
    setModal(true);
    auto* top = new QVBoxLayout(this);
    CvnDiscoveryCtl1 = new CvnDiscoveryCtl(this);
    CvnDiscoveryCtl1->setObjectName("CvnDiscoveryCtl1");
    // Stored with the form: both options on, until loading sets them.
    CvnDiscoveryCtl1->setConnectButtonsVisible(true);
    CvnDiscoveryCtl1->setSupportInstrumentsLabelVisible(true);
    top->addWidget(CvnDiscoveryCtl1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton("Cancel", this);
    cmdCancel->setObjectName("cmdCancel");
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    top->addLayout(buttons);
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    resize(640, 480);
    load();
}

frmFindInstrument::~frmFindInstrument() = default;

void frmFindInstrument::load() {
    cancel_ = true;
    gSession.reset();  // no connection stays open while the user searches
    discoveryCriteria_.reset();
    try {
        modelList_ = SplitAtCommas(gModelList);
        discoveryCriteria_ = std::make_shared<CvnDiscoveryCriteria>();
        discoveryCriteria_->setInstrumentType("Oscilloscope");
        discoveryCriteria_->setInstrumentModels(std::make_shared<CvnStringCollection>());
        // A duplicate identifier fails here and ends loading.
        for (const auto& model : modelList_)
            discoveryCriteria_->InstrumentModels()->Add(model, model);
        CvnDiscoveryCtl1->setConnectButtonsVisible(false);
        CvnDiscoveryCtl1->setSupportInstrumentsLabelVisible(true);
        discoveryCriteria_->setInterfaceDescriptions(std::make_shared<CvnInterfaceCollection>());
        auto serial = std::make_shared<CvnSerialInterface>();
        serial->setBaudRate(9600);
        serial->setDataBits(8);
        serial->setEndInput(4);
        serial->setStopBits(1);
        discoveryCriteria_->InterfaceDescriptions()->Add(serial, "RS232");
        ui().setBusyCursor(true);
        ui().wait(std::chrono::milliseconds(500));
        CvnDiscoveryCtl1->setDiscoveryCriteria(discoveryCriteria_);
        ui().setBusyCursor(false);
        discoveryCriteria_.reset();
    } catch (...) {
        SkipOnError([] { ui().setBusyCursor(false); });
        discoveryCriteria_.reset();
    }
}

void frmFindInstrument::cmdOK_Click() {
    SkipOnError([this] { discoveryCriteria_ = CvnDiscoveryCtl1->DiscoveryCriteria(); });
    std::shared_ptr<CvnInstrument> instrument;
    SkipOnError([&] {
        if (discoveryCriteria_) instrument = discoveryCriteria_->SelectedInstrument();
    });
    if (instrument) {
        SkipOnError([&] { ioAddress_ = instrument->Session()->Address(); });
        instrument.reset();
        discoveryCriteria_.reset();
        cancel_ = false;
        done(QDialog::Accepted);
    } else {
        discoveryCriteria_.reset();
        SkipOnError([] {
            try {
                throw Error(115, "No instrument is selected", "frmFindInstrument");
            } catch (...) {
                errorHandler().HandleError("Inside GetWaveformData, Error ", 1, 115);
            }
        });
    }
}

void frmFindInstrument::cmdCancel_Click() {
    cancel_ = true;
    done(QDialog::Rejected);
}

void frmFindInstrument::reject() {
    cmdCancel_Click();
}

void frmFindInstrument::showModal() {
    if (modalHook) {
        show();
        modalHook(*this);
        if (isVisible()) close();
        return;
    }
    exec();
}

void runFindInstrument(FWCdlgHalv& dialog) {
    SkipOnError([] { gSession.reset(); });
    bool cancelled = true;
    std::string address;
    SkipOnError([&] {
        auto form = std::make_unique<frmFindInstrument>(&dialog);
        form->showModal();
        cancelled = form->Cancel();
        address = cancelled ? dialog.InstrumentAddress() : form->ioAddress();
    });
    if (cancelled) {
        SkipOnError(
            [&] { dialog.lblConnected->setText(QString::fromStdString(GetResString(121, ""))); });
        dialog.cmdOK->setEnabled(false);
        return;
    }
    std::string model;
    bool connected = false;
    bool ok = false;
    SkipOnError([&] { ok = isConnected(address, true, model, connected); });
    if (!ok) return;
    dialog.setInstrumentAddress(address);
    SkipOnError([&] { dialog.showConnectionState(true); });
    dialog.cmdOK->setEnabled(true);
    dialog.chkBitMap->setEnabled(true);
    dialog.chkWaveform->setEnabled(true);
    SkipOnError([&] { dialog.ReadScopeState(true); });
}

}  // namespace cvn
