// Form localisation on Qt widgets.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialog/QtLocalizeForm.h"

namespace cvn {
namespace {

template <typename T>
T* tagged(QWidget* parent, const QString& text, const char* tag) {
    auto* w = new T(text, parent);
    w->setProperty(kTagProperty, QString::fromLatin1(tag));
    return w;
}

TEST(LocalizeFormQt, CaptionsTitlesTabsAndTooltipsComeFromTheTable) {
    QDialog form;
    form.setProperty(kTagProperty, "1023");
    form.setWindowTitle("Before");
    auto* layout = new QVBoxLayout(&form);
    auto* label = tagged<QLabel>(&form, "I/O Address:", "104");
    auto* numbered = tagged<QLabel>(&form, "x", "1013");
    auto* button = tagged<QPushButton>(&form, "&Find it", "1020");
    auto* check = tagged<QCheckBox>(&form, "Get &Waveform", "1010.4");  // rounds to 1010
    auto* noNumber = tagged<QCheckBox>(&form, "Keep me", "abc");
    auto* group = tagged<QGroupBox>(&form, "Frame", "1011");
    auto* edit = new QLineEdit(&form);
    edit->setProperty(kTagProperty, "1009");  // no caption: left alone
    edit->setText("typed");
    auto* tipped = tagged<QPushButton>(&form, "Tip", "");
    tipped->setToolTip("121");  // no tag: never visited
    auto* tipped2 = tagged<QPushButton>(&form, "Tip2", "7");
    tipped2->setProperty(kTooltipTagProperty, "121");
    auto* tabs = new QTabWidget(&form);
    tabs->setProperty(kTagProperty, "1006");
    for (int i = 0; i < 4; ++i) tabs->addTab(new QWidget, QString("tab %1").arg(i));
    auto* strip = new QTabBar(&form);
    strip->setProperty(kTagProperty, "1");
    strip->addTab("one");
    strip->setTabData(0, "1005");
    strip->setTabToolTip(0, "115");
    strip->addTab("two");
    strip->setTabData(1, "nope");
    for (QWidget* w : std::initializer_list<QWidget*>{label, numbered, button, check, noNumber,
                                                      group, edit, tipped, tipped2, tabs, strip})
        layout->addWidget(w);

    LocalizeForm(form);

    EXPECT_EQ(form.windowTitle(), "Corvane Halvio Series Add-In");
    EXPECT_EQ(form.font().pointSize(), 8);
    EXPECT_EQ(label->text(), "I/O Address:");  // text 104 does not exist
    EXPECT_EQ(numbered->text(), "Number of Points:");
    EXPECT_EQ(button->text(), "&Find Instrument");  // the mnemonic stays
    EXPECT_EQ(check->text(), "Get &Waveform Data");
    EXPECT_EQ(noNumber->text(), "Keep me");
    EXPECT_EQ(group->title(), "Waveform Selection");
    EXPECT_EQ(edit->text(), "typed");
    EXPECT_EQ(tipped->toolTip(), "121");
    EXPECT_EQ(tipped2->toolTip(), "The instrument is not connected.");
    EXPECT_EQ(button->font().pointSize(), 8);
    EXPECT_EQ(tabs->tabText(0), "Get Waveform Data");
    EXPECT_EQ(tabs->tabText(1), "Scope Settings");
    EXPECT_EQ(tabs->tabText(2), "Set I/O");
    EXPECT_EQ(tabs->tabText(3), "Get Screen Image");
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_EQ(strip->tabText(0), "Find Instrument");
    EXPECT_EQ(strip->tabToolTip(0), "No connection.");
    EXPECT_EQ(strip->tabText(1), "two");
}

TEST(LocalizeFormQt, MnemonicHelpers) {
    EXPECT_EQ(PlainCaption("Get &Screen Image"), "Get Screen Image");
    EXPECT_EQ(PlainCaption("Salt && &Pepper"), "Salt & Pepper");
    EXPECT_EQ(CarryMnemonic("&Get setting", "Get setting from scope"), "&Get setting from scope");
    EXPECT_EQ(CarryMnemonic("Sa&ve", "Close"), "Close");  // no such letter
    EXPECT_EQ(CarryMnemonic("Plain", "A & B"), "A && B");
    EXPECT_EQ(CarryMnemonic("&B", "A & B"), "A && &B");
}

}  // namespace
}  // namespace cvn
