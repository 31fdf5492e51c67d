// The capture dialog's behaviour: loading, showDialog, the reactions of its
// check boxes and tabs, OK and Cancel, the stored profile and the shared
// instance. Every routine that the host's call passes through skips a
// failing step and goes on, so the dialog is always shown or hidden.
#include "dialog/FWCdlgHalv.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QWindow>
#include <chrono>
#include <cmath>
#include <thread>

#include "dialog/MeasurementTab.h"
#include "dialog/QtLocalizeForm.h"
#include "dialog/ScopeSettingsTab.h"
#include "dialog/frmFindInstrument.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/AppKey.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"
#include "support/SkipOnError.h"
#include "support/StringTable.h"
#include "support/UiServices.h"

namespace cvn {

std::function<void(FWCdlgHalv&)> FWCdlgHalv::modalHook;

namespace {

std::string setting(const char* key, const char* def) {
    return GetSetting(SettingsAppKey(), kSettingsSection, key, def);
}

void store(const char* key, const std::string& value) {
    SaveSetting(SettingsAppKey(), kSettingsSection, key, value);
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A stored check value: 0 unchecked, 1 checked; anything else fails.
bool checkValue(const char* key, const char* def) {
    auto value = SettingAsInteger(setting(key, def));
    if (!value || (*value != 0 && *value != 1))
        throw Error(13, std::string("Type mismatch in setting ") + key, "FWCdlgHalv");
    return *value == 1;
}

std::string checkText(const QCheckBox* box) {
    return box->isChecked() ? "1" : "0";
}

}  // namespace

FWCdlgHalv::FWCdlgHalv(QWidget* parent) : QDialog(parent) {
    buildForm();
    connectReactions();
    // The reactions follow changes only: start from the state they keep.
    chkInvert->setEnabled(chkBitMap->isChecked());
    // Loading: localisation is due again, and the supported-instruments
    // sentence comes from the model table that is built here.
    dialogLocalized_ = false;
    SkipOnError([] { LoadModelTable(); });
    supportedText_ = GetResString(1019, "");
    lblSupportedInstruments->setText(qs(supportedText_));
    selectTab(kTabWaveform);
}

FWCdlgHalv::~FWCdlgHalv() = default;

QString FWCdlgHalv::controlName(std::string_view name, int index) {
    QString n = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (index >= 0) n += QLatin1Char('_') + QString::number(index);
    return n;
}

QWidget* FWCdlgHalv::control(std::string_view name, int index) const {
    const QString n = controlName(name, index);
    if (n == objectName()) return const_cast<FWCdlgHalv*>(this);
    return findChild<QWidget*>(n);
}

bool FWCdlgHalv::isAvailable(const QWidget* w) {
    return w != nullptr && !w->testAttribute(Qt::WA_ForceDisabled);
}

bool FWCdlgHalv::isShown(const QWidget* w) {
    // A child that was never hidden on purpose counts as shown even while
    // the dialog itself is hidden.
    return w != nullptr && !(w->isHidden() && w->testAttribute(Qt::WA_WState_ExplicitShowHide));
}

std::string FWCdlgHalv::InstrumentAddress() const {
    return lblAddress->text().toStdString();
}

void FWCdlgHalv::setInstrumentAddress(const std::string& address) {
    lblAddress->setText(qs(address));
}

void FWCdlgHalv::connectReactions() {
    // toggled fires for changes made in code as well, which is what the
    // settings and scope-state routines rely on; it stays silent when the
    // value does not change.
    QObject::connect(chkBitMap, &QCheckBox::toggled, this, [this] { onBitMapChanged(); });
    QObject::connect(chkWaveform, &QCheckBox::toggled, this, [this] { onWaveformChanged(); });
    for (auto* box : chkChan)
        QObject::connect(box, &QCheckBox::toggled, this, [this] { CheckCmdOK(); });
    for (auto* box : chkPod)
        QObject::connect(box, &QCheckBox::toggled, this, [this] { CheckCmdOK(); });
    for (auto* box : chkData)
        QObject::connect(box, &QCheckBox::toggled, this, [this] { CheckCmdOK(); });
    QObject::connect(SSTab1, &QTabWidget::currentChanged, this, [this](int i) { onTabChanged(i); });
    QObject::connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    QObject::connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    QObject::connect(cmdFindInstrument, &QPushButton::clicked, this, [this] {
        if (findInstrumentAction) SkipOnError([this] { findInstrumentAction(*this); });
    });
    ConnectMeasurementTab(*this);
    scopeSettingsAction = RunScopeSettingsTab;
}

void FWCdlgHalv::selectTab(int index) {
    const bool same = SSTab1->currentIndex() == index;
    SSTab1->setCurrentIndex(index);
    // Selecting the tab that is already selected still runs its reaction,
    // so the OK button always matches the tab on screen.
    if (same) onTabChanged(index);
}

void FWCdlgHalv::onTabChanged(int index) {
    switch (index) {
        case kTabWaveform:
            CheckCmdOK();
            break;
        case kTabScopeSettings:
            cmdOK->setEnabled(true);
            break;
        default:
            cmdOK->setEnabled(false);
            break;
    }
}

void FWCdlgHalv::CheckCmdOK() {
    // The capture rule, whichever tab is selected: the check boxes' reactions
    // run it also when code changes them on another tab (a Find Instrument
    // on the I/O tab re-reads the scope there). Selecting a tab applies
    // that tab's own rule.
    int n = 0;
    for (auto* box : chkChan) n += box->isChecked() ? 1 : 0;
    for (auto* box : chkPod) n += box->isChecked() ? 1 : 0;
    for (auto* box : chkData) n += box->isChecked() ? 1 : 0;
    cmdOK->setEnabled(CmdOkAvailable(chkBitMap->isChecked(), chkWaveform->isChecked(), n));
}

void FWCdlgHalv::onBitMapChanged() {
    chkInvert->setEnabled(chkBitMap->isChecked());
    CheckCmdOK();
}

void FWCdlgHalv::onWaveformChanged() {
    const bool e = chkWaveform->isChecked();
    QList<QWidget*> affected{fraWFselection, lblWFnumberPoints, txtWFNumberPoints,
                             Label2,         lblLogic,          lblScope};
    for (auto* box : chkChan) affected << box;
    for (auto* box : chkPod) affected << box;
    for (auto* box : chkData) affected << box;
    for (QWidget* w : affected) w->setEnabled(e);
    SkipOnError([this] { ReadScopeState(false); });
    CheckCmdOK();
}

void FWCdlgHalv::showConnectionState(bool connected) {
    lblConnected->setText(connected ? QString() : qs(GetResString(121, "")));
    for (int tab : {kTabWaveform, kTabScopeSettings, kTabMeasurement})
        SSTab1->setTabEnabled(tab, connected);
}

bool FWCdlgHalv::connectTo(const std::string& address, bool showMessages) {
    instrumentModel_.clear();
    bool connected = false;
    std::string model;
    const bool ok = isConnected(address, showMessages, model, connected);
    if (ok) instrumentModel_ = model;
    return ok;
}

void FWCdlgHalv::localizeOnce() {
    if (!dialogLocalized_) LocalizeForm(*this);
    dialogLocalized_ = true;
}

void FWCdlgHalv::showDialog(bool doShow, const std::string& /*address*/) {
    SkipOnError([this] { LoadAddressAndChannels(); });
    cancel_ = false;
    SkipOnError([this] { LoadSettings(); });
    SkipOnError([] { ui().setBusyCursor(true); });

    if (lblAddress->text().isEmpty()) {
        // An address stored as empty: try the factory default, and let the
        // user see why it failed when the host wants the dialog.
        lblAddress->setText(QString::fromLatin1(kDefaultAddress));
        bool ok = false;
        SkipOnError([&] { ok = connectTo(kDefaultAddress, doShow); });
        if (ok) {
            // Disconnected tabs must be enabled before tab 0 can be selected.
            SkipOnError([this] { showConnectionState(true); });
            selectTab(kTabWaveform);
            SkipOnError([] { ui().setBusyCursor(false); });
            SkipOnError([this] { localizeOnce(); });
            if (!instrumentModel_.empty()) {
                chkBitMap->setEnabled(true);
                chkWaveform->setEnabled(true);
                SkipOnError([this] { ReadScopeState(true); });
                SkipOnError([this] { UpdateMeasurementChoices(); });
            }
        } else {
            // Select tab 3 first: disabling the selected tab would move the
            // selection by itself.
            selectTab(kTabIo);
            SkipOnError([this] { showConnectionState(false); });
            SkipOnError([this] { localizeOnce(); });
            show();
            hide();
            SkipOnError([] { ui().setBusyCursor(false); });
        }
        runModal();
    } else if (doShow) {
        SkipOnError([this] { localizeOnce(); });
        // On screen, painted, with the busy pointer while the scope is asked.
        show();
        SkipOnError([this] { paintNow(); });
        bool ok = false;
        SkipOnError([&] { ok = connectTo(lblAddress->text().toStdString(), false); });
        if (ok) {
            SkipOnError([this] { showConnectionState(true); });
            selectTab(kTabWaveform);
        } else {
            selectTab(kTabIo);
            SkipOnError([this] { showConnectionState(false); });
        }
        dialogLocalized_ = true;
        if (!instrumentModel_.empty()) {
            // An identified scope makes the capture boxes usable, also on a
            // first run where no address had been stored yet.
            chkBitMap->setEnabled(true);
            chkWaveform->setEnabled(true);
            SkipOnError([this] { ReadScopeState(true); });
            SkipOnError([this] { UpdateMeasurementChoices(); });
        }
        SkipOnError([] { ui().setBusyCursor(false); });
        hide();
        runModal();
    }
    SkipOnError([] { ui().setBusyCursor(false); });
}

void FWCdlgHalv::paintNow() {
    // The queries that follow block the thread, so whatever is not painted
    // now stays black until they end (a second and more with a slow scope).
    // A new window can paint only once the window system has mapped it
    // (later still under a reparenting window manager): run window events,
    // never input, until it is, within a short bound; then paint.
    constexpr auto kMapBound = std::chrono::milliseconds(500);
    const auto bound = std::chrono::steady_clock::now() + kMapBound;
    constexpr auto flags = QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;
    QCoreApplication::processEvents(flags);
    QWindow* window = windowHandle();
    while (window && !window->isExposed() && std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QCoreApplication::processEvents(flags);
    }
    repaint();
}

void FWCdlgHalv::runModal() {
    if (modalHook) {
        show();
        SkipOnError([this] { modalHook(*this); });
        if (isVisible()) cmdCancel_Click();
        return;
    }
    exec();
}

void FWCdlgHalv::cmdOK_Click() {
    SkipOnError([] { errorHandler().AddToStack("cmdOK_click"); });
    if (SSTab1->currentIndex() == kTabScopeSettings) {
        if (scopeSettingsAction) SkipOnError([this] { scopeSettingsAction(*this); });
        return;
    }
    SkipOnError([this] {
        std::vector<bool> channels, pods;
        for (auto* box : chkChan) channels.push_back(box->isChecked());
        for (auto* box : chkPod) pods.push_back(box->isChecked());
        activeChannels_ = BuildActiveChannels(channels, pods);
    });
    selectTab(kTabWaveform);
    cancel_ = false;
    SkipOnError([this] { SaveSettings(); });
    done(QDialog::Accepted);
}

void FWCdlgHalv::cmdCancel_Click() {
    cancel_ = true;
    done(QDialog::Rejected);
}

void FWCdlgHalv::reject() {
    cmdCancel_Click();
}

void FWCdlgHalv::closeEvent(QCloseEvent* event) {
    // The dialog lives on; the close box means Cancel.
    event->ignore();
    cmdCancel_Click();
}

void FWCdlgHalv::LoadAddressAndChannels() {
    cancel_ = false;
    std::string address;
    SkipOnError([&] {
        address = setting(kKeyAddress, "");
        lblAddress->setText(qs(address));
    });
    lblSupportedInstruments->setText(qs(supportedText_));
    SkipOnError([this] { activeChannels_ = setting(kKeyActiveChannels, kDefaultActiveChannels); });
    if (!address.empty()) {
        chkBitMap->setEnabled(true);
        chkWaveform->setEnabled(true);
    } else {
        chkBitMap->setChecked(false);
        chkBitMap->setEnabled(false);
        chkWaveform->setChecked(false);
        chkWaveform->setEnabled(false);
    }
}

void FWCdlgHalv::LoadSettings() {
    SkipOnError([this] {
        // The stored place is the top-left corner of the dialog's own area
        // (inside the window manager's frame), written and read back the
        // same way. A hidden window has no frame on X11: a reparenting window
        // manager takes it away on hiding, so converting a frame position
        // while hidden is off by the title bar, once more on every use.
        auto left = SettingAsNumber(setting(kKeyLeft, "800"));
        auto top = SettingAsNumber(setting(kKeyTop, "800"));
        const QPoint here = geometry().topLeft();
        const int x = left ? static_cast<int>(std::lround(*left / kTwipsPerPixel)) : here.x();
        const int y = top ? static_cast<int>(std::lround(*top / kTwipsPerPixel)) : here.y();
        std::vector<Rect> screens;
        if (QScreen* primary = QGuiApplication::primaryScreen()) {
            const QRect g = primary->availableGeometry();
            screens.push_back({g.x(), g.y(), g.width(), g.height()});
        }
        for (QScreen* s : QGuiApplication::screens()) {
            const QRect g = s->availableGeometry();
            screens.push_back({g.x(), g.y(), g.width(), g.height()});
        }
        const int width = isVisible() ? frameGeometry().width() : sizeHint().width();
        auto [px, py] = PlaceOnScreens(x, y, width, screens);
        // setGeometry places the area itself and never goes through a frame
        // size; a window first placed this way is also told to the window
        // manager by its area, so later placings mean the same. A dialog
        // never sized still gets its natural size when it is first shown.
        const bool sized = testAttribute(Qt::WA_Resized);
        setGeometry(QRect(QPoint(px, py), size()));
        if (!sized) setAttribute(Qt::WA_Resized, false);
    });
    SkipOnError([this] { lblAddress->setText(qs(setting(kKeyAddress, kDefaultAddress))); });
    SkipOnError([this] { chkBitMap->setChecked(checkValue(kKeyScreen, "1")); });
    SkipOnError([this] { chkInvert->setChecked(checkValue(kKeyInvertColor, "1")); });
    SkipOnError([this] { chkWaveform->setChecked(checkValue(kKeyWaveform, "1")); });
    SkipOnError([this] {
        auto newAcq = SettingAsBoolean(setting(kKeyNewAcquisition, "0"));
        if (!newAcq) throw Error(13, "Type mismatch in setting MakeNewAcquisition", "FWCdlgHalv");
        optNewAcq->setChecked(*newAcq);
        optCurAcq->setChecked(!*newAcq);
    });
    fraWFselection->setEnabled(chkWaveform->isChecked());
}

void FWCdlgHalv::SaveSettings() {
    SkipOnError([this] {
        // The same corner that LoadSettings places (see there).
        const QPoint here = geometry().topLeft();
        store(kKeyLeft, std::to_string(here.x() * kTwipsPerPixel));
        store(kKeyTop, std::to_string(here.y() * kTwipsPerPixel));
    });
    SkipOnError([this] { store(kKeyActiveChannels, activeChannels_); });
    SkipOnError([this] { store(kKeyScreen, checkText(chkBitMap)); });
    SkipOnError([this] { store(kKeyInvertColor, checkText(chkInvert)); });
    SkipOnError([this] { store(kKeyWaveform, checkText(chkWaveform)); });
    SkipOnError([this] { store(kKeyNewAcquisition, optNewAcq->isChecked() ? "True" : "False"); });
    SkipOnError([this] { store(kKeyD0D7, checkText(chkData[0])); });
    SkipOnError([this] { store(kKeyD8D15, checkText(chkData[1])); });
}

namespace {
QPointer<FWCdlgHalv>& sharedDialog() {
    static QPointer<FWCdlgHalv> instance;
    return instance;
}
}  // namespace

FWCdlgHalv& captureDialog() {
    auto& instance = sharedDialog();
    if (!instance) {
        instance = new FWCdlgHalv;
        instance->findInstrumentAction = runFindInstrument;
        // Widgets must go before the application object does.
        if (auto* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, instance.data(),
                             [] { unloadCaptureDialog(); });
    }
    return *instance;
}

void unloadCaptureDialog() {
    auto& instance = sharedDialog();
    delete instance.data();
    instance = nullptr;
}

}  // namespace cvn
