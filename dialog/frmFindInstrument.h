// The Find Instrument dialog: hosts the discovery control, hands it the
// search criteria (an oscilloscope of one of the supported models, the
// serial line) when it is loaded, and on OK takes the address of the
// instrument the user picked. It connects to nothing itself; the capture
// dialog's Find Instrument action (runFindInstrument) does that.
//
// Loaded anew for every use: construct (loading), show modally, read
// Cancel and ioAddress, delete.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialog/CvnDiscovery.h"

class QPushButton;

namespace cvn {

class CvnDiscoveryCtl;
class FWCdlgHalv;

class frmFindInstrument : public QDialog {
public:
    // Loading: releases gSession, builds the criteria from gModelList and
    // hands them to the control (after the 500 ms wait, with the busy
    // cursor). A failing step ends loading quietly; the dialog stays usable.
    explicit frmFindInstrument(QWidget* parent = nullptr);
    ~frmFindInstrument() override;

    // Whether the dialog ended without a found instrument.
    bool Cancel() const { return cancel_; }
    // The picked instrument's address; empty until OK succeeds.
    const std::string& ioAddress() const { return ioAddress_; }
    const std::vector<std::string>& modelList() const { return modelList_; }

    // OK: with a selection, takes its address and hides the dialog; without
    // one, shows "No connection." and stays open. Errors skip their step.
    void cmdOK_Click();
    // Cancel: Cancel becomes true and the dialog hides.
    void cmdCancel_Click();
    // Shows the dialog modally (or through modalHook) until it hides.
    void showModal();

    // When set, called instead of the modal loop: the dialog is shown
    // non-modally, the hook runs, and a dialog the hook left open is closed
    // as with the close box. For tests and scripted hosts.
    static std::function<void(frmFindInstrument&)> modalHook;

    CvnDiscoveryCtl* CvnDiscoveryCtl1 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void reject() override;

private:
    void load();

    bool cancel_ = true;
    std::string ioAddress_;
    std::vector<std::string> modelList_;
    std::shared_ptr<CvnDiscoveryCriteria> discoveryCriteria_;
};

// The capture dialog's Find Instrument button: releases gSession, runs the
// Find Instrument dialog and connects to the address it returns. Never
// throws.
void runFindInstrument(FWCdlgHalv& dialog);

}  // namespace cvn
