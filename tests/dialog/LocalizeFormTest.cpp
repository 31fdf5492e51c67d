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
    const std::pair<QAbstractButton*, const char*> buttons[] = {
        {tagged<QPushButton>(&form, "&Find it", "1020"), "&Find Instrument"},  // mnemonic stays
        {tagged<QCheckBox>(&form, "Get &Waveform", "1010.4"), "Get &Waveform Data"},  // rounds
        {tagged<QCheckBox>(&form, "Keep me", "abc"), "Keep me"},
        {tagged<QPushButton>(&form, "Untagged", ""), "Untagged"},
    };
    auto* label = tagged<QLabel>(&form, "I/O Address:", "104");  // text 104 does not exist
    auto* group = tagged<QGroupBox>(&form, "Frame", "1011");
    auto* edit = new QLineEdit("typed", &form);
    edit->setProperty(kTagProperty, "1009");  // no caption: left alone
    buttons[3].first->setToolTip("121");      // no tag: never visited
    buttons[0].first->setProperty(kTooltipTagProperty, "121");
    auto* tabs = new QTabWidget(&form);
    tabs->setProperty(kTagProperty, "1006");
    for (int i = 0; i < 4; ++i) tabs->addTab(new QWidget, "tab");
    auto* strip = new QTabBar(&form);
    strip->setProperty(kTagProperty, "1");
    strip->addTab("one");
    strip->setTabData(0, "1005");
    strip->setTabToolTip(0, "115");
    strip->addTab("two");
    strip->setTabData(1, "nope");

    LocalizeForm(form);
    EXPECT_EQ(form.windowTitle(), "Corvane Halvio Series Add-In");
    EXPECT_EQ(form.font().pointSize(), 8);
    for (const auto& [button, text] : buttons) EXPECT_EQ(button->text(), text);
    EXPECT_EQ(label->text(), "I/O Address:");
    EXPECT_EQ(group->title(), "Waveform Selection");
    EXPECT_EQ(edit->text(), "typed");
    EXPECT_EQ(buttons[3].first->toolTip(), "121");
    EXPECT_EQ(buttons[0].first->toolTip(), "The instrument is not connected.");
    EXPECT_EQ(buttons[0].first->font().pointSize(), 8);
    const QStringList tabTexts{"Get Waveform Data", "Scope Settings", "Set I/O",
                               "Get Screen Image"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tabs->tabText(i), tabTexts[i]);
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_EQ(strip->tabText(0), "Find Instrument");
    EXPECT_EQ(strip->tabToolTip(0), "No connection.");
    EXPECT_EQ(strip->tabText(1), "two");
    // A form tag without text empties the title; one that is no number keeps it.
    form.setProperty(kTagProperty, "122");
    LocalizeForm(form);
    EXPECT_EQ(form.windowTitle(), "");
    form.setWindowTitle("kept");
    form.setProperty(kTagProperty, "x");
    LocalizeForm(form);
    EXPECT_EQ(form.windowTitle(), "kept");
}

TEST(LocalizeFormQt, MnemonicHelpers) {
    EXPECT_EQ(PlainCaption("Salt && &Pepper"), "Salt & Pepper");
    const std::tuple<const char*, const char*, const char*> cells[] = {
        {"&Get setting", "Get setting from scope", "&Get setting from scope"},
        {"Sa&ve", "Close", "Close"},  // no such letter
        {"Plain", "A & B", "A && B"},
        {"&B", "A & B", "A && &B"},
    };
    for (const auto& [before, text, after] : cells) EXPECT_EQ(CarryMnemonic(before, text), after);
}

}  // namespace
}  // namespace cvn
