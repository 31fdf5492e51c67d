// The Measurement tab's reactions. Each runs with the busy pointer where it
// talks to the scope, and none lets an error escape into the dialog.
#include "dialog/MeasurementTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "dialog/FWCdlgHalv.h"
#include "measure/MeasurementCsv.h"
#include "measure/MeasurementRun.h"
#include "scope/Connection.h"
#include "support/ErrorHandler.h"
#include "support/UiServices.h"

namespace cvn {
namespace {

const QString kCheckPrefix = QStringLiteral("chkMea");
const QString kTextPrefix = QStringLiteral("txtMea");

class BusyPointer {
public:
    BusyPointer() { set(true); }
    ~BusyPointer() { set(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    static void set(bool busy) noexcept {
        try {
            ui().setBusyCursor(busy);
        } catch (...) {
        }
    }
};

// Runs f; an error is reported as a failure to read from the scope, with its
// details, and false comes back.
template <typename F>
bool reported(const char* routine, F&& f) noexcept {
    if (!gSession) {
        errorHandler().HandleError(ErrorInfo{}, "isConnected, Error ", 1, 115);
        return false;
    }
    try {
        f();
        return true;
    } catch (...) {
        errorHandler().HandleError(routine, 2, 202);
        return false;
    }
}

bool nameHas(const QObject* o, const QString& part) {
    return o->objectName().contains(part, Qt::CaseInsensitive);
}

// Shows text in a list; a name the scope reports that the list does not
// offer is added, so the list never shows something else.
void showInList(QComboBox* box, const std::string& text) {
    const QString t = QString::fromStdString(text);
    int index = box->findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        box->addItem(t);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

void measure(FWCdlgHalv& dlg, bool newAcquisition) {
    BusyPointer busy;
    if (!reported(newAcquisition ? "cmdMeasureNew_Click" : "cmdMeasure_Click", [&] {
            if (newAcquisition) MeasurementRun(*gSession).NewAcquisition();
            // Only measurements that suit the source stay chosen.
            dlg.UpdateMeasurementChoices();
        }))
        return;

    MeasurementChoice chosen{};
    for (std::size_t i = 0; i < kMeasurementRows.size(); ++i) {
        const auto* box = dlg.control<QCheckBox>("chkMea" + std::string(kMeasurementRows[i].name));
        chosen[i] = box && box->checkState() == Qt::Checked;
    }
    const MeasurementOutcome outcome = MeasurementRun(*gSession).Measure(chosen);
    if (!outcome.source1.empty()) {
        showInList(dlg.cboSource1, outcome.source1);
        showInList(dlg.cboSource2, outcome.source2);
    }
    for (std::size_t i = 0; i < outcome.rowsDone; ++i) {
        if (auto* text = dlg.control<QLineEdit>("txtMea" + std::string(kMeasurementRows[i].name)))
            text->setText(QString::fromStdString(outcome.texts[i]));
    }
    if (outcome.error) errorHandler().HandleError(*outcome.error, "cmdMeasure_Click", 2, 202);
}

}  // namespace

void ConnectMeasurementTab(FWCdlgHalv& dlg) {
    FWCdlgHalv* d = &dlg;
    // activated: only the user's picks, not the lists being filled in code.
    QObject::connect(dlg.cboSource1, &QComboBox::activated, d,
                     [d] { MeasurementSource1Picked(*d); });
    QObject::connect(dlg.cboSource2, &QComboBox::activated, d,
                     [d] { MeasurementSource2Picked(*d); });
    QObject::connect(dlg.cmdMeasure, &QPushButton::clicked, d,
                     [d] { MeasureCurrentAcquisition(*d); });
    QObject::connect(dlg.cmdMeasureNew, &QPushButton::clicked, d,
                     [d] { MeasureNewAcquisition(*d); });
    QObject::connect(dlg.cmdSelectAll, &QPushButton::clicked, d,
                     [d] { SelectAllMeasurements(*d); });
    QObject::connect(dlg.cmdClearAll, &QPushButton::clicked, d, [d] { ClearAllMeasurements(*d); });
    QObject::connect(dlg.cmdSaveMeaData, &QPushButton::clicked, d,
                     [d] { SaveMeasurementResults(*d); });
}

void MeasurementSource1Picked(FWCdlgHalv& dlg) {
    reported("cboSource1_Click", [&] {
        MeasurementRun(*gSession).SelectSource(dlg.cboSource1->currentText().toStdString());
        dlg.UpdateMeasurementChoices();
    });
}

void MeasurementSource2Picked(FWCdlgHalv& dlg) {
    reported("cboSource2_Click", [&] {
        MeasurementRun(*gSession).SelectSources(dlg.cboSource1->currentText().toStdString(),
                                                dlg.cboSource2->currentText().toStdString());
        dlg.UpdateMeasurementChoices();
    });
}

void MeasureCurrentAcquisition(FWCdlgHalv& dlg) {
    measure(dlg, false);
}

void MeasureNewAcquisition(FWCdlgHalv& dlg) {
    measure(dlg, true);
}

void SelectAllMeasurements(FWCdlgHalv& dlg) {
    for (QCheckBox* box : dlg.findChildren<QCheckBox*>()) {
        if (nameHas(box, kCheckPrefix) && FWCdlgHalv::isAvailable(box)) box->setChecked(true);
    }
}

void ClearAllMeasurements(FWCdlgHalv& dlg) {
    for (QCheckBox* box : dlg.findChildren<QCheckBox*>()) {
        if (nameHas(box, kCheckPrefix)) box->setChecked(false);
    }
    for (QLineEdit* text : dlg.findChildren<QLineEdit*>()) {
        if (nameHas(text, kTextPrefix)) text->clear();
    }
}

void SaveMeasurementResults(FWCdlgHalv& dlg) {
    // Lines follow the order of the boxes on the tab, not the query order.
    std::vector<MeasurementCsvLine> lines;
    const auto texts = dlg.findChildren<QLineEdit*>();
    for (QCheckBox* box : dlg.findChildren<QCheckBox*>()) {
        if (!nameHas(box, kCheckPrefix) || box->checkState() != Qt::Checked) continue;
        const QString row = kTextPrefix + box->objectName().mid(kCheckPrefix.size());
        for (QLineEdit* text : texts) {
            if (!nameHas(text, row)) continue;
            lines.push_back({text->objectName().mid(kTextPrefix.size()).toStdString(),
                             text->text().toStdString()});
        }
    }
    SaveMeasurementData(lines);
}

}  // namespace cvn
