// The capture dialog: four tabs (waveform capture, scope settings files,
// quick measurements, I/O address) over one OK/Cancel pair. It connects to
// the scope, offers only the sources the scope shows, and on OK stores the
// capture profile that the retrieval driver reads afterwards.
//
// One instance lives for as long as the add-in is loaded (captureDialog());
// it is only shown and hidden, so its controls keep their states between
// calls of showDialog. Controls carry their names as object names; an
// element of a control array is named "<array>_<index>" (chkChan_2 is
// element 2 of chkChan), and control(name, index) finds it. A control's
// string-table number is its dynamic property "tag".
//
// "Available" below is a control's own enabled flag (a control inside a
// disabled frame or tab stays available); "shown" is its own visibility flag.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "dialog/CaptureProfile.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace cvn {

class FWCdlgHalv : public QDialog {
public:
    enum Tab { kTabWaveform = 0, kTabScopeSettings = 1, kTabMeasurement = 2, kTabIo = 3 };

    explicit FWCdlgHalv(QWidget* parent = nullptr);
    ~FWCdlgHalv() override;

    // Reads the stored profile, connects, reads what the scope shows and,
    // when doShow is set or no address is stored, shows the dialog modally
    // until OK or Cancel hides it. address is accepted for the host's
    // signature and not used. Never throws.
    void showDialog(bool doShow = false, const std::string& address = {});

    // True when the user left the dialog without confirming.
    bool Cancel() const { return cancel_; }
    void setCancel(bool value) { cancel_ = value; }
    // The text of lblAddress; setting it does not connect.
    std::string InstrumentAddress() const;
    void setInstrumentAddress(const std::string& address);
    // Model of the connected scope, empty while none has answered.
    const std::string& instrumentModel() const { return instrumentModel_; }
    // The list built by the last OK ("CHAN1,CHAN3,POD2").
    const std::string& activeChannels() const { return activeChannels_; }
    bool dialogLocalized() const { return dialogLocalized_; }

    // The OK action. On the Scope Settings tab it runs scopeSettingsAction
    // and keeps the dialog open; elsewhere it stores the profile and hides
    // the dialog with Cancel false.
    void cmdOK_Click();
    // Sets Cancel and hides the dialog; stores nothing. Esc and the close
    // box end here too.
    void cmdCancel_Click();
    // Whether OK is available by the capture rule (an image, or waveform
    // data with at least one source). Selecting a tab sets OK by that tab:
    // this rule on the waveform tab, always on Scope Settings, never on the
    // other two.
    void CheckCmdOK();
    // Source selection, measurement sources and point count from the
    // scope over gSession; failing queries leave their controls as they were.
    void ReadScopeState(bool resetSelection);
    // Availability of the measurement boxes for the scope's measurement
    // source. Throws when the scope cannot be asked.
    void UpdateMeasurementChoices();
    // The connection state shown on the dialog: the status text and whether
    // the first three tabs can be selected. Used after every connect.
    void showConnectionState(bool connected);

    // Settings routines of showDialog and OK; each step that fails is skipped.
    void LoadAddressAndChannels();
    void LoadSettings();
    void SaveSettings();

    // A control by name, or by array name and index; nullptr when absent.
    QWidget* control(std::string_view name, int index = -1) const;
    template <typename T>
    T* control(std::string_view name, int index = -1) const {
        return qobject_cast<T*>(control(name, index));
    }
    static QString controlName(std::string_view name, int index);
    // The control's own enabled and visibility flags.
    static bool isAvailable(const QWidget* w);
    static bool isShown(const QWidget* w);

    // --- Hooks for the actions that other parts of the add-in provide ---
    // Run by the Find Instrument button.
    std::function<void(FWCdlgHalv&)> findInstrumentAction;
    // Run by OK on the Scope Settings tab (save or send a setup file).
    std::function<void(FWCdlgHalv&)> scopeSettingsAction;
    // When set, called instead of the modal loop: the dialog is shown
    // non-modally, the hook runs, and a dialog the hook left open is
    // closed as with the close box. For tests and scripted hosts.
    static std::function<void(FWCdlgHalv&)> modalHook;

    // --- Controls (also reachable by name through control()) ---
    QTabWidget* SSTab1 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    // Tab 0
    QCheckBox* chkBitMap = nullptr;
    QCheckBox* chkInvert = nullptr;
    QCheckBox* chkWaveform = nullptr;
    QGroupBox* frameAcq = nullptr;
    QRadioButton* optCurAcq = nullptr;
    QRadioButton* optNewAcq = nullptr;
    QGroupBox* fraWFselection = nullptr;
    QLabel* lblScope = nullptr;
    QLabel* lblLogic = nullptr;
    std::array<QCheckBox*, 4> chkChan{};
    std::array<QCheckBox*, 2> chkPod{};
    std::array<QCheckBox*, 2> chkData{};
    QLabel* lblWFnumberPoints = nullptr;
    QLineEdit* txtWFNumberPoints = nullptr;
    QLabel* Label2 = nullptr;
    // Tab 1
    QGroupBox* Frame1 = nullptr;
    QRadioButton* optSaveToFile = nullptr;
    QRadioButton* optSendToScope = nullptr;
    // Tab 2
    QPushButton* cmdMeasure = nullptr;
    QPushButton* cmdMeasureNew = nullptr;
    QPushButton* cmdSelectAll = nullptr;
    QPushButton* cmdClearAll = nullptr;
    QPushButton* cmdSaveMeaData = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QComboBox* cboSource1 = nullptr;
    QLabel* Label9 = nullptr;
    QComboBox* cboSource2 = nullptr;
    QLabel* Label10 = nullptr;
    QGroupBox* Frame2 = nullptr;
    // In the order of kMeasurementNames: chkMea<Name>, txtMea<Name>.
    std::array<QCheckBox*, kMeasurementCount> chkMea{};
    std::array<QLineEdit*, kMeasurementCount> txtMea{};
    // Tab 3
    QLabel* lblSupportedInstruments = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblAddress = nullptr;
    QLabel* lblConnected = nullptr;
    QPushButton* cmdFindInstrument = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void buildForm();
    QWidget* buildWaveformTab();
    QWidget* buildScopeSettingsTab();
    QWidget* buildMeasurementTab();
    QWidget* buildIoTab();
    void connectReactions();

    void selectTab(int index);
    void onTabChanged(int index);
    void onBitMapChanged();
    void onWaveformChanged();
    bool connectTo(const std::string& address, bool showMessages);
    void localizeOnce();
    // Paints the shown dialog now, before the thread blocks on the scope.
    void paintNow();
    void runModal();

    bool cancel_ = false;
    bool dialogLocalized_ = false;
    std::string instrumentModel_;
    std::string activeChannels_;
    std::string supportedText_;
};

// The shared instance, created on first use.
FWCdlgHalv& captureDialog();
// Deletes the shared instance; the next captureDialog() loads a new one.
void unloadCaptureDialog();

}  // namespace cvn
