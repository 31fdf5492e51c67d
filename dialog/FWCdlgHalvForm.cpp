// The capture dialog's widgets and layouts. Widgets are created with their
// parent in reading order, which gives the keyboard its tab order; sizes
// come from layouts only, so the dialog scales with the screen's factor.
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialog/FWCdlgHalv.h"
#include "dialog/QtLocalizeForm.h"

namespace cvn {

namespace {

template <typename T>
T* make(QWidget* parent, const QString& name, const QString& text = {}, const char* tag = "") {
    auto* w = new T(text, parent);
    w->setObjectName(name);
    w->setProperty(kTagProperty, QString::fromLatin1(tag));
    return w;
}

QGroupBox* makeGroup(QWidget* parent, const QString& name, const QString& title,
                     const char* tag = "") {
    return make<QGroupBox>(parent, name, title, tag);
}

QLineEdit* makeEdit(QWidget* parent, const QString& name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setProperty(kTagProperty, QString());
    return e;
}

QComboBox* makeCombo(QWidget* parent, const QString& name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setProperty(kTagProperty, QString());
    return c;
}

QWidget* makePage(QWidget* parent, const QString& name) {
    auto* page = new QWidget(parent);
    page->setObjectName(name);
    return page;
}

}  // namespace

void FWCdlgHalv::buildForm() {
    setObjectName(QStringLiteral("FWCdlgHalv"));
    setProperty(kTagProperty, QStringLiteral("1023"));
    setWindowTitle(QStringLiteral("Corvane Wavecatch"));
    setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->setProperty(kTagProperty, QString());
    layout->addWidget(SSTab1);

    SSTab1->addTab(buildWaveformTab(), QStringLiteral("Get Waveform Data"));
    SSTab1->addTab(buildScopeSettingsTab(), QStringLiteral("Scope Settings"));
    SSTab1->addTab(buildMeasurementTab(), QStringLiteral("Measurement"));
    SSTab1->addTab(buildIoTab(), QStringLiteral("Set I/O"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cmdOK = make<QPushButton>(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), "1022");
    cmdCancel = make<QPushButton>(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* FWCdlgHalv::buildWaveformTab() {
    QWidget* page = makePage(this, QStringLiteral("tabWaveform"));
    auto* v = new QVBoxLayout(page);

    auto* capture = new QGridLayout;
    chkBitMap = make<QCheckBox>(page, QStringLiteral("chkBitMap"),
                                QStringLiteral("Get &Screen Image"), "1009");
    chkInvert = make<QCheckBox>(page, QStringLiteral("chkInvert"), QStringLiteral("&Invert"));
    chkWaveform = make<QCheckBox>(page, QStringLiteral("chkWaveform"),
                                  QStringLiteral("Get &Waveform Data"), "1010");
    capture->addWidget(chkBitMap, 0, 0);
    capture->addWidget(chkInvert, 0, 1);
    capture->addWidget(chkWaveform, 1, 0);
    capture->setColumnStretch(2, 1);
    v->addLayout(capture);

    frameAcq = makeGroup(page, QStringLiteral("frameAcq"), QStringLiteral("Acquistions"));
    auto* acq = new QHBoxLayout(frameAcq);
    optCurAcq = make<QRadioButton>(frameAcq, QStringLiteral("optCurAcq"),
                                   QStringLiteral("Use &Current Acquisition"));
    optNewAcq = make<QRadioButton>(frameAcq, QStringLiteral("optNewAcq"),
                                   QStringLiteral("Make &New Acquisition"));
    optCurAcq->setChecked(true);
    acq->addWidget(optCurAcq);
    acq->addWidget(optNewAcq);
    acq->addStretch(1);
    v->addWidget(frameAcq);

    fraWFselection = makeGroup(page, QStringLiteral("fraWFselection"),
                               QStringLiteral("Waveform Selection"), "1011");
    auto* sel = new QVBoxLayout(fraWFselection);
    auto* grid = new QGridLayout;
    lblScope = make<QLabel>(fraWFselection, QStringLiteral("lblScope"), QStringLiteral("Scope"));
    grid->addWidget(lblScope, 0, 0);
    for (int i = 0; i < 4; ++i) {
        chkChan[i] = make<QCheckBox>(fraWFselection, controlName("chkChan", i),
                                     QStringLiteral("Channel &%1").arg(i + 1));
        grid->addWidget(chkChan[i], i + 1, 0);
    }
    lblLogic = make<QLabel>(fraWFselection, QStringLiteral("lblLogic"), QStringLiteral("Logic"));
    grid->addWidget(lblLogic, 0, 1);
    const char* podCaptions[2] = {"Pod 1 (D0-D7)", "Pod 2 (D8-D15)"};
    const char* dataCaptions[2] = {"D0-D7 Individually", "D8-D15 Individually"};
    for (int i = 0; i < 2; ++i) {
        chkPod[i] = make<QCheckBox>(fraWFselection, controlName("chkPod", i),
                                    QString::fromLatin1(podCaptions[i]));
        chkData[i] = make<QCheckBox>(fraWFselection, controlName("chkData", i),
                                     QString::fromLatin1(dataCaptions[i]));
        grid->addWidget(chkPod[i], 1 + 2 * i, 1);
        grid->addWidget(chkData[i], 2 + 2 * i, 1);
    }
    grid->setColumnStretch(2, 1);
    sel->addLayout(grid);

    auto* points = new QHBoxLayout;
    lblWFnumberPoints = make<QLabel>(fraWFselection, QStringLiteral("lblWFnumberPoints"),
                                     QStringLiteral("Number of Points:"), "1013");
    txtWFNumberPoints = makeEdit(fraWFselection, QStringLiteral("txtWFNumberPoints"));
    txtWFNumberPoints->setReadOnly(true);
    lblWFnumberPoints->setBuddy(txtWFNumberPoints);
    points->addWidget(lblWFnumberPoints);
    points->addWidget(txtWFNumberPoints);
    points->addStretch(1);
    sel->addLayout(points);
    Label2 = make<QLabel>(
        fraWFselection, QStringLiteral("Label2"),
        QStringLiteral("Change the number of points on the scope under Menu 'Setup, Acquisition'"));
    Label2->setWordWrap(true);
    sel->addWidget(Label2);
    v->addWidget(fraWFselection);
    v->addStretch(1);
    return page;
}

QWidget* FWCdlgHalv::buildScopeSettingsTab() {
    QWidget* page = makePage(this, QStringLiteral("tabScopeSettings"));
    auto* v = new QVBoxLayout(page);
    Frame1 = makeGroup(page, QStringLiteral("Frame1"), QStringLiteral("Scope Settings"), "1015");
    auto* f = new QVBoxLayout(Frame1);
    optSaveToFile =
        make<QRadioButton>(Frame1, QStringLiteral("optSaveToFile"),
                           QStringLiteral("&Get setting from scope and Save to file"), "1016");
    optSendToScope =
        make<QRadioButton>(Frame1, QStringLiteral("optSendToScope"),
                           QStringLiteral("&Open file and Send settings to Scope"), "1017");
    optSaveToFile->setChecked(true);
    f->addWidget(optSaveToFile);
    f->addWidget(optSendToScope);
    v->addWidget(Frame1);
    v->addStretch(1);
    return page;
}

QWidget* FWCdlgHalv::buildMeasurementTab() {
    QWidget* page = makePage(this, QStringLiteral("tabMeasurement"));
    auto* v = new QVBoxLayout(page);

    auto* sources = new QGridLayout;
    Label7 = make<QLabel>(page, QStringLiteral("Label7"), QStringLiteral("---Measure---"));
    sources->addWidget(Label7, 0, 0, 1, 4);
    Label8 = make<QLabel>(page, QStringLiteral("Label8"), QStringLiteral("Source &1:"));
    cboSource1 = makeCombo(page, QStringLiteral("cboSource1"));
    Label8->setBuddy(cboSource1);
    Label9 = make<QLabel>(page, QStringLiteral("Label9"), QStringLiteral("Source&2:"));
    cboSource2 = makeCombo(page, QStringLiteral("cboSource2"));
    Label9->setBuddy(cboSource2);
    cboSource1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboSource2->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboSource1->setMinimumContentsLength(6);
    cboSource2->setMinimumContentsLength(6);
    sources->addWidget(Label8, 1, 0);
    sources->addWidget(cboSource1, 1, 1);
    sources->addWidget(Label9, 1, 2);
    sources->addWidget(cboSource2, 1, 3);
    sources->setColumnStretch(4, 1);
    v->addLayout(sources);
    Label10 = make<QLabel>(
        page, QStringLiteral("Label10"),
        QStringLiteral(
            "If there is no source selected, measurement will be based on the scope settings."));
    Label10->setWordWrap(true);
    v->addWidget(Label10);

    Frame2 = makeGroup(page, QStringLiteral("Frame2"), QStringLiteral("Quick Measure"));
    auto* grid = new QGridLayout(Frame2);
    constexpr int kRowsPerColumn = 8;
    const QFontMetrics metrics(font());
    for (int i = 0; i < kMeasurementCount; ++i) {
        const QString name = QString::fromLatin1(kMeasurementNames[i]);
        chkMea[i] = make<QCheckBox>(Frame2, QStringLiteral("chkMea") + name,
                                    QString::fromLatin1(kMeasurementCaptions[i]));
        txtMea[i] = makeEdit(Frame2, QStringLiteral("txtMea") + name);
        txtMea[i]->setReadOnly(true);
        txtMea[i]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("-000.000 mV__")));
        const int row = i % kRowsPerColumn;
        const int column = (i / kRowsPerColumn) * 2;
        grid->addWidget(chkMea[i], row, column);
        grid->addWidget(txtMea[i], row, column + 1);
    }
    v->addWidget(Frame2);

    auto* buttons = new QHBoxLayout;
    cmdMeasure = make<QPushButton>(page, QStringLiteral("cmdMeasure"),
                                   QStringLiteral("C&urrent Acquisition"));
    cmdMeasureNew = make<QPushButton>(page, QStringLiteral("cmdMeasureNew"),
                                      QStringLiteral("&New Acquisition"));
    cmdSelectAll =
        make<QPushButton>(page, QStringLiteral("cmdSelectAll"), QStringLiteral("Select &All"));
    cmdClearAll =
        make<QPushButton>(page, QStringLiteral("cmdClearAll"), QStringLiteral("C&lear All"));
    cmdSaveMeaData =
        make<QPushButton>(page, QStringLiteral("cmdSaveMeaData"), QStringLiteral("Sa&ve Data"));
    for (QPushButton* b : {cmdMeasure, cmdMeasureNew, cmdSelectAll, cmdClearAll, cmdSaveMeaData}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    v->addLayout(buttons);
    v->addStretch(1);
    return page;
}

QWidget* FWCdlgHalv::buildIoTab() {
    QWidget* page = makePage(this, QStringLiteral("tabIo"));
    auto* v = new QVBoxLayout(page);
    lblSupportedInstruments = make<QLabel>(page, QStringLiteral("lblSupportedInstruments"));
    lblSupportedInstruments->setWordWrap(true);
    v->addWidget(lblSupportedInstruments);

    auto* address = new QHBoxLayout;
    Label1 = make<QLabel>(page, QStringLiteral("Label1"), QStringLiteral("I/O Address:"), "104");
    lblAddress = make<QLabel>(page, QStringLiteral("lblAddress"));
    lblAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    address->addWidget(Label1);
    address->addWidget(lblAddress, 1);
    v->addLayout(address);

    lblConnected = make<QLabel>(page, QStringLiteral("lblConnected"));
    QFont bold = lblConnected->font();
    bold.setBold(true);
    lblConnected->setFont(bold);
    v->addWidget(lblConnected);

    auto* find = new QHBoxLayout;
    cmdFindInstrument = make<QPushButton>(page, QStringLiteral("cmdFindInstrument"),
                                          QStringLiteral("&Find Instrument"), "1020");
    cmdFindInstrument->setAutoDefault(false);
    find->addWidget(cmdFindInstrument);
    find->addStretch(1);
    v->addLayout(find);
    v->addStretch(1);
    return page;
}

}  // namespace cvn
