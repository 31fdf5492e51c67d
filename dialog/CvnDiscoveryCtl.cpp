// The instrument discovery control: form, search runs and the list.
#include "dialog/CvnDiscoveryCtl.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "io/IoError.h"
#include "io/Vxi11Transport.h"
#include "support/SettingsStore.h"

namespace cvn {
namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// How long the LAN discovery listens for answers, per method and interface.
constexpr int kLanDiscoveryMs = 1000;

// The serial line the I/O library opens: only a description that matches
// it can be probed.
bool SerialLineUsable(const CvnSerialInterface& s) {
    return s.BaudRate() == 9600 && s.DataBits() == 8 && s.StopBits() == 1;
}

}  // namespace

std::string& CvnDiscoveryCtl::searchRoot() {
    static std::string root = "/";
    return root;
}

CvnDiscoveryCtl::CvnDiscoveryCtl(QWidget* parent) : QWidget(parent) {
    setObjectName("CvnDiscoveryCtl");
    buildForm();
    try {
        txtLanHosts->setText(qs(GetSetting(kSettingsAppKey, kSettingsSection, kLanHostsKey, "")));
    } catch (...) {
        // Reads do not throw; a missing list just starts empty.
    }
    showProgress();
}

CvnDiscoveryCtl::~CvnDiscoveryCtl() {
    // Workers post to this object: all of them stop before it goes.
    if (run_) run_->cancel();
    for (auto& r : retired_) r->cancel();
    if (lanDiscovery_.joinable()) lanDiscovery_.join();
    run_.reset();
    retired_.clear();
}

void CvnDiscoveryCtl::buildForm() {
    auto* top = new QVBoxLayout(this);
    lblInstrumentType = new QLabel(this);
    lblSupportedInstruments = new QLabel(this);
    lblSupportedInstruments->setWordWrap(true);
    top->addWidget(lblInstrumentType);
    top->addWidget(lblSupportedInstruments);

    auto* where = new QGroupBox(tr("Where to look"), this);
    auto* grid = new QGridLayout(where);
    chkUsb = new QCheckBox(tr("USB (usbtmc)"), where);
    chkSerial = new QCheckBox(tr("Serial ports"), where);
    chkLan = new QCheckBox(tr("LAN hosts:"), where);
    chkUsb->setChecked(true);
    chkLan->setChecked(true);
    // Asking a serial port writes "*IDN?" at 9600 baud to whatever is on it
    // (a modem, a UPS, a microcontroller), so only a user who ticks the box
    // has them asked, as on the command line.
    chkSerial->setChecked(false);
    chkSerial->setToolTip(
        tr("Sends *IDN? at 9600 baud to every serial port of this computer; tick it only when "
           "nothing else is connected to them"));
    txtLanHosts = new QLineEdit(where);
    txtLanHosts->setPlaceholderText(
        tr("e.g. 192.168.1.20, scope.lab:5025, TCPIP::10.0.0.7::INSTR"));
    grid->addWidget(chkUsb, 0, 0);
    grid->addWidget(chkSerial, 0, 1);
    grid->addWidget(chkLan, 1, 0);
    grid->addWidget(txtLanHosts, 1, 1, 1, 2);
    top->addWidget(where);

    auto* buttons = new QHBoxLayout;
    cmdSearch = new QPushButton(tr("Search"), this);
    cmdCancelSearch = new QPushButton(tr("Stop Search"), this);
    cmdLanDiscovery = new QPushButton(tr("Search Local Network (VXI-11, mDNS)"), this);
    cmdLanDiscovery->setToolTip(
        tr("Sends a VXI-11 broadcast and an mDNS query on every network this computer is on"));
    buttons->addWidget(cmdSearch);
    buttons->addWidget(cmdCancelSearch);
    buttons->addWidget(cmdLanDiscovery);
    buttons->addStretch();
    top->addLayout(buttons);

    prgSearch = new QProgressBar(this);
    lblStatus = new QLabel(this);
    top->addWidget(prgSearch);
    top->addWidget(lblStatus);

    lstInstruments = new QTreeWidget(this);
    lstInstruments->setColumnCount(4);
    lstInstruments->setHeaderLabels({tr("Address"), tr("Maker"), tr("Model"), tr("Supported")});
    lstInstruments->setRootIsDecorated(false);
    lstInstruments->setSelectionMode(QAbstractItemView::SingleSelection);
    lstInstruments->header()->setSectionResizeMode(kColAddress, QHeaderView::Stretch);
    top->addWidget(lstInstruments, 1);

    cmdConnect = new QPushButton(tr("Test Connection"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cmdConnect);
    bottom->addStretch();
    top->addLayout(bottom);

    // Object names as the member names, for tests and style sheets.
    const std::pair<QWidget*, const char*> names[] = {
        {lblInstrumentType, "lblInstrumentType"},
        {lblSupportedInstruments, "lblSupportedInstruments"},
        {chkUsb, "chkUsb"},
        {chkSerial, "chkSerial"},
        {chkLan, "chkLan"},
        {txtLanHosts, "txtLanHosts"},
        {cmdSearch, "cmdSearch"},
        {cmdCancelSearch, "cmdCancelSearch"},
        {cmdLanDiscovery, "cmdLanDiscovery"},
        {prgSearch, "prgSearch"},
        {lblStatus, "lblStatus"},
        {lstInstruments, "lstInstruments"},
        {cmdConnect, "cmdConnect"}};
    for (auto [w, name] : names) w->setObjectName(name);

    connect(cmdSearch, &QPushButton::clicked, this, [this] { startSearch(); });
    connect(cmdCancelSearch, &QPushButton::clicked, this, [this] { cancelSearch(); });
    connect(cmdLanDiscovery, &QPushButton::clicked, this, [this] { startLanDiscovery(); });
    connect(cmdConnect, &QPushButton::clicked, this, [this] { testSelected(); });
    txtLanHosts->installEventFilter(this);
}

bool CvnDiscoveryCtl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtLanHosts && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (enter && modifiers == Qt::NoModifier) {
            startSearch();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CvnDiscoveryCtl::setConnectButtonsVisible(bool visible) {
    connectButtonsVisible_ = visible;
    cmdConnect->setVisible(visible);
}

void CvnDiscoveryCtl::setSupportInstrumentsLabelVisible(bool visible) {
    supportLabelVisible_ = visible;
    lblSupportedInstruments->setVisible(visible);
}

std::shared_ptr<CvnDiscoveryCriteria> CvnDiscoveryCtl::DiscoveryCriteria() const {
    auto selection = std::make_shared<CvnDiscoveryCriteria>();
    if (criteria_) *selection = *criteria_;
    selection->setSelectedInstrument(nullptr);
    const QList<QTreeWidgetItem*> picked = lstInstruments->selectedItems();
    if (!picked.isEmpty()) {
        const int row = lstInstruments->indexOfTopLevelItem(picked.front());
        if (row >= 0 && static_cast<size_t>(row) < found_.size())
            selection->setSelectedInstrument(found_[static_cast<size_t>(row)]);
    }
    return selection;
}

void CvnDiscoveryCtl::setDiscoveryCriteria(std::shared_ptr<CvnDiscoveryCriteria> criteria) {
    if (!criteria) {
        throw Error(kDiscoveryNoCriteria, "No search criteria were given", kDiscoverySource);
    }
    criteria_ = std::move(criteria);
    ++criteriaReceived_;
    lblInstrumentType->setText(tr("Looking for: %1").arg(qs(criteria_->InstrumentType())));
    QStringList models;
    if (auto m = criteria_->InstrumentModels()) {
        for (size_t i = 1; i <= m->Count(); ++i) models << qs(m->Item(i));
    }
    lblSupportedInstruments->setText(tr("Supported models: %1").arg(models.join(", ")));
    startSearch();
}

bool CvnDiscoveryCtl::modelSupported(const std::string& model) const {
    if (!criteria_ || !criteria_->InstrumentModels() || model.empty()) return false;
    return criteria_->InstrumentModels()->Find(model) != nullptr;
}

bool CvnDiscoveryCtl::isSearching() const {
    return run_ != nullptr || lanDiscovery_.joinable();
}

void CvnDiscoveryCtl::reapRetired() {
    std::erase_if(retired_, [](const auto& r) { return r->finished(); });
}

void CvnDiscoveryCtl::startSearch() {
    cancelSearch();
    lstInstruments->clear();
    found_.clear();
    listed_.clear();
    note_.clear();

    std::vector<std::string> addresses;
    const std::string root = searchRoot();
    if (chkUsb->isChecked()) {
        for (auto& a : UsbAddresses(root)) addresses.push_back(a);
    }
    if (chkSerial->isChecked()) {
        const CvnSerialInterface* line = nullptr;
        if (criteria_ && criteria_->InterfaceDescriptions()) {
            const auto& all = *criteria_->InterfaceDescriptions();
            for (size_t i = 1; i <= all.Count() && !line; ++i)
                line = dynamic_cast<const CvnSerialInterface*>(all.Item(i).get());
        }
        if (line && SerialLineUsable(*line)) {
            for (auto& a : SerialAddresses(root)) addresses.push_back(a);
        } else if (line) {
            note_ = tr("Serial ports were not asked: they are opened at 9600 baud, 8 data bits, "
                       "1 stop bit only.")
                        .toStdString();
        }
    }
    if (chkLan->isChecked()) {
        const std::string typed = txtLanHosts->text().trimmed().toStdString();
        try {
            SaveSetting(kSettingsAppKey, kSettingsSection, kLanHostsKey, typed);
        } catch (...) {
            // Not remembering the list only costs retyping it next time.
        }
        for (const auto& entry : SplitHostList(typed)) {
            for (auto& a : LanAddresses(entry)) addresses.push_back(a);
        }
    }
    std::set<std::string> seen;
    std::erase_if(addresses, [&](const std::string& a) { return !seen.insert(a).second; });
    asked_ = 0;
    total_ = 0;
    probe(std::move(addresses));
}

void CvnDiscoveryCtl::probe(std::vector<std::string> addresses) {
    reapRetired();
    const unsigned generation = ++generation_;
    total_ += addresses.size();
    // Results cross to the UI thread as queued calls; a stale generation
    // (a search replaced meanwhile) is dropped there.
    run_ = std::make_unique<ProbeRun>(
        std::move(addresses),
        [this, generation](const ProbeResult& r) {
            QMetaObject::invokeMethod(
                this, [this, generation, r] { addResult(generation, r); }, Qt::QueuedConnection);
        },
        [this, generation] {
            QMetaObject::invokeMethod(
                this, [this, generation] { finishSearch(generation); }, Qt::QueuedConnection);
        });
    showProgress();
}

void CvnDiscoveryCtl::addResult(unsigned generation, const ProbeResult& r) {
    if (generation != generation_) return;
    ++asked_;
    if (r.answered && std::find(listed_.begin(), listed_.end(), r.address) == listed_.end()) {
        auto field = [&](size_t i) { return i < r.idn.size() ? r.idn[i] : std::string(); };
        const bool supported = modelSupported(field(1));
        auto instrument =
            std::make_shared<CvnInstrument>(r.address, field(0), field(1), field(2), supported);
        auto* item = new QTreeWidgetItem(
            {qs(r.address), qs(field(0)), qs(field(1)), supported ? tr("Yes") : tr("No")});
        if (supported) {
            QFont bold = item->font(kColModel);
            bold.setBold(true);
            for (int c = 0; c < 4; ++c) item->setFont(c, bold);
        }
        lstInstruments->addTopLevelItem(item);
        found_.push_back(std::move(instrument));
        listed_.push_back(r.address);
    }
    showProgress();
}

void CvnDiscoveryCtl::finishSearch(unsigned generation) {
    if (generation != generation_ || !run_) return;
    run_.reset();  // every worker has stopped: this joins at once
    showProgress();
}

void CvnDiscoveryCtl::cancelSearch() {
    ++generation_;
    if (run_) {
        run_->cancel();
        retired_.push_back(std::move(run_));
    }
    showProgress();
}

void CvnDiscoveryCtl::showProgress() {
    prgSearch->setRange(0, static_cast<int>(std::max<size_t>(total_, 1)));
    prgSearch->setValue(static_cast<int>(std::min(asked_, std::max<size_t>(total_, 1))));
    QString status;
    if (lanDiscovery_.joinable()) {
        status = tr("Asking the local networks for instruments...");
    } else if (run_) {
        status = tr("Searching: %1 of %2 addresses asked").arg(asked_).arg(total_);
    } else if (total_ > 0 && asked_ < total_) {
        status = tr("Search stopped: %1 of %2 addresses asked, %3 instruments found")
                     .arg(asked_)
                     .arg(total_)
                     .arg(found_.size());
    } else {
        status = tr("%1 instruments found").arg(found_.size());
    }
    if (!note_.empty()) status += " " + qs(note_);
    lblStatus->setText(status);
    cmdSearch->setEnabled(!lanDiscovery_.joinable());
    cmdCancelSearch->setEnabled(run_ != nullptr);
    cmdLanDiscovery->setEnabled(!lanDiscovery_.joinable());
}

void CvnDiscoveryCtl::startLanDiscovery() {
    if (lanDiscovery_.joinable()) return;
    cancelSearch();
    lanDiscovery_ = std::thread([this] {
        std::vector<std::string> found;
        for (auto how :
             {io::Vxi11Transport::Discovery::Vxi11Broadcast, io::Vxi11Transport::Discovery::Mdns}) {
            for (auto& a : io::Vxi11Transport::discover(how, kLanDiscoveryMs)) found.push_back(a);
        }
        QMetaObject::invokeMethod(
            this,
            [this, found] {
                if (lanDiscovery_.joinable()) lanDiscovery_.join();
                std::vector<std::string> fresh;
                for (const auto& a : found) {
                    if (std::find(listed_.begin(), listed_.end(), a) == listed_.end())
                        fresh.push_back(a);
                }
                probe(std::move(fresh));
            },
            Qt::QueuedConnection);
    });
    showProgress();
}

void CvnDiscoveryCtl::testSelected() {
    auto selection = DiscoveryCriteria()->SelectedInstrument();
    if (!selection) {
        lblStatus->setText(tr("Select an instrument first."));
        return;
    }
    try {
        auto session = selection->Session();
        const int previous = session->Timeout();
        session->SetTimeout(ProbeRun::kReplyTimeoutMs);
        session->Output("*IDN?");
        const std::string reply = session->EnterText();
        session->SetTimeout(previous);
        lblStatus->setText(tr("%1 answers: %2").arg(qs(selection->Address()), qs(reply).trimmed()));
    } catch (const std::exception& e) {
        lblStatus->setText(tr("%1 does not answer: %2").arg(qs(selection->Address()), e.what()));
    }
}

}  // namespace cvn
