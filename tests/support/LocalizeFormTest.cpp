// Form localisation against a plain in-memory form.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "support/LocalizeForm.h"

namespace cvn {
namespace {

struct FakeElement : LocalizableElement {
    std::string type = "CommandButton";
    std::string tagText;
    std::optional<std::string> captionText = "";  // nullopt: the element has no caption
    std::string tip;
    bool fontTaken = false;
    struct Tab {
        std::string tag, caption, tip;
    };
    std::vector<Tab> tabs;
    int current = 0;
    std::vector<std::string> perTab;  // SSTab: one caption per tab

    std::string typeName() const override { return type; }
    std::string tag() const override { return tagText; }
    std::string caption() const override {
        if (type == "SSTab") return perTab.at(static_cast<size_t>(current));
        if (!captionText) throw std::runtime_error("no caption");
        return *captionText;
    }
    void setCaption(const std::string& text) override {
        if (type == "SSTab") {
            perTab.at(static_cast<size_t>(current)) = text;
            return;
        }
        if (!captionText) throw std::runtime_error("no caption");
        captionText = text;
    }
    std::string toolTip() const override { return tip; }
    void setToolTip(const std::string& text) override { tip = text; }
    void takeFormFont() override { fontTaken = true; }
    int tabCount() const override {
        return type == "SSTab" ? static_cast<int>(perTab.size()) : static_cast<int>(tabs.size());
    }
    int currentTab() const override { return current; }
    void setCurrentTab(int index) override { current = index; }
    std::string tabTag(int i) const override { return tabs.at(static_cast<size_t>(i)).tag; }
    std::string tabCaption(int i) const override { return tabs.at(static_cast<size_t>(i)).caption; }
    void setTabCaption(int i, const std::string& t) override {
        tabs.at(static_cast<size_t>(i)).caption = t;
    }
    std::string tabToolTip(int i) const override { return tabs.at(static_cast<size_t>(i)).tip; }
    void setTabToolTip(int i, const std::string& t) override {
        tabs.at(static_cast<size_t>(i)).tip = t;
    }
};

struct FakeForm : LocalizableForm {
    std::string tagText = "1023";
    std::string captionText = "Form1";
    std::string font = "Sans";
    int fontSize = 12;
    std::vector<std::unique_ptr<FakeElement>> items;

    FakeElement& add(std::string type, std::string tag, std::string caption = "") {
        items.push_back(std::make_unique<FakeElement>());
        items.back()->type = std::move(type);
        items.back()->tagText = std::move(tag);
        items.back()->captionText = std::move(caption);
        return *items.back();
    }
    std::string tag() const override { return tagText; }
    std::string caption() const override { return captionText; }
    void setCaption(const std::string& text) override { captionText = text; }
    std::string fontName() const override { return font; }
    void setFontName(const std::string& name) override { font = name; }
    void setFontSize(int points) override { fontSize = points; }
    std::vector<LocalizableElement*> elements() override {
        std::vector<LocalizableElement*> list;
        for (auto& item : items) list.push_back(item.get());
        return list;
    }
};

TEST(LocalizeForm, TakesCaptionsFromTheTableAndSkipsWhatFails) {
    FakeForm form;
    auto& ok = form.add("CommandButton", "1022", "cmdOK");
    auto& frame = form.add("Frame", "1011", "Frame");
    auto& label = form.add("Label", "1013", "lbl");
    auto& address = form.add("Label", "104", "I/O Address:");
    auto& untagged = form.add("CheckBox", "", "keep me");
    auto& noCaption = form.add("Image", "1009");
    noCaption.captionText.reset();
    noCaption.tip = "1021";
    auto& rounded = form.add("CheckBox", "1009.5 extra", "x");  // 1009.5 rounds to 1010
    auto& zero = form.add("CheckBox", "abc", "unchanged");
    zero.tip = "not a number";
    auto& sstab = form.add("SSTab", "1006");
    sstab.perTab = {"t0", "t1", "t2", "t3"};
    auto& strip = form.add("TabStrip", "1");
    strip.tabs = {{"1003", "a", "1004"}, {"junk", "b", "junk"}, {"122", "c", ""}};
    auto& badLabel = form.add("Label", "twelve", "stays");

    LocalizeForm(form);

    EXPECT_EQ(form.captionText, "Corvane Halvio Series Add-In");
    EXPECT_EQ(form.font, "Sans");
    EXPECT_EQ(form.fontSize, 8);
    EXPECT_EQ(*ok.captionText, "OK");
    EXPECT_EQ(*frame.captionText, "Waveform Selection");
    EXPECT_EQ(*label.captionText, "Number of Points:");
    EXPECT_EQ(*address.captionText, "I/O Address:");
    EXPECT_EQ(*untagged.captionText, "keep me");
    EXPECT_FALSE(untagged.fontTaken);
    EXPECT_TRUE(ok.fontTaken);
    EXPECT_EQ(noCaption.tip, "Image inverted") << "the tooltip still runs after the caption failed";
    EXPECT_EQ(*rounded.captionText, "Get Waveform Data");
    EXPECT_EQ(*zero.captionText, "unchanged");
    EXPECT_EQ(zero.tip, "not a number");
    EXPECT_EQ(sstab.perTab, (std::vector<std::string>{"Get Waveform Data", "Scope Settings",
                                                      "Set I/O", "Get Screen Image"}));
    EXPECT_EQ(sstab.current, 3);
    EXPECT_EQ(strip.tabs[0].caption, "Close");
    EXPECT_EQ(strip.tabs[0].tip, "Cancel");
    EXPECT_EQ(strip.tabs[1].caption, "b");
    EXPECT_EQ(strip.tabs[1].tip, "junk");
    EXPECT_EQ(strip.tabs[2].caption, "c");
    EXPECT_EQ(*badLabel.captionText, "stays");

    // A form tag without text empties the caption; a non-numeric one keeps it.
    form.tagText = "122";
    LocalizeForm(form);
    EXPECT_EQ(form.captionText, "");
    form.captionText = "kept";
    form.tagText = "";
    LocalizeForm(form);
    EXPECT_EQ(form.captionText, "kept");
}

TEST(LocalizeForm, NumberConversions) {
    EXPECT_EQ(TextToInt16(" 1023 "), 1023);
    EXPECT_EQ(TextToInt16("2.5"), 2);
    EXPECT_EQ(TextToInt16("3.5"), 4);
    EXPECT_EQ(TextToInt16("-7"), -7);
    EXPECT_EQ(TextToInt16("32768"), std::nullopt);
    EXPECT_EQ(TextToInt16(""), std::nullopt);
    EXPECT_EQ(TextToInt16("12abc"), std::nullopt);
    EXPECT_EQ(TextToInt16("inf"), std::nullopt);
    EXPECT_DOUBLE_EQ(LeadingNumber("1 0 1 1xyz"), 1011.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("  -2.5e1 and more"), -25.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("12e"), 12.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("none"), 0.0);
    EXPECT_DOUBLE_EQ(LeadingNumber("."), 0.0);
}

}  // namespace
}  // namespace cvn
