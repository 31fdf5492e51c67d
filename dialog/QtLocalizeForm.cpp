// Adapts Qt widgets to the toolkit-free form localisation. Accessors that
// an element does not have throw, which the localisation takes as "skip
// this assignment".
#include "dialog/QtLocalizeForm.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>
#include <memory>

#include "support/Error.h"

namespace cvn {

namespace {

[[noreturn]] void noSuchProperty() {
    throw Error(kNoSuchMember, "Object doesn't support this property or method", "cvnWCHalv");
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}
std::string str(const QString& s) {
    return s.toStdString();
}

class WidgetElement final : public LocalizableElement {
public:
    WidgetElement(QWidget& widget, QWidget& form) : w_(widget), form_(form) {}

    std::string typeName() const override {
        if (qobject_cast<QLabel*>(&w_)) return "Label";
        if (qobject_cast<QTabWidget*>(&w_)) return "SSTab";
        if (qobject_cast<QTabBar*>(&w_)) return "TabStrip";
        return w_.metaObject()->className();
    }
    std::string tag() const override { return str(w_.property(kTagProperty).toString()); }

    std::string caption() const override { return str(PlainCaption(rawCaption())); }
    void setCaption(const std::string& text) override {
        const QString value = CarryMnemonic(rawCaption(), qs(text));
        if (auto* l = qobject_cast<QLabel*>(&w_))
            l->setText(value);
        else if (auto* b = qobject_cast<QAbstractButton*>(&w_))
            b->setText(value);
        else if (auto* g = qobject_cast<QGroupBox*>(&w_))
            g->setTitle(value);
        else if (auto* t = qobject_cast<QTabWidget*>(&w_); t && t->currentIndex() >= 0)
            t->setTabText(t->currentIndex(), value);
        else
            noSuchProperty();
    }

    std::string toolTip() const override {
        const QVariant number = w_.property(kTooltipTagProperty);
        return str(number.isValid() ? number.toString() : w_.toolTip());
    }
    void setToolTip(const std::string& text) override { w_.setToolTip(qs(text)); }
    void takeFormFont() override { w_.setFont(form_.font()); }

    int tabCount() const override {
        if (auto* t = qobject_cast<QTabWidget*>(&w_)) return t->count();
        return bar().count();
    }
    int currentTab() const override {
        if (auto* t = qobject_cast<QTabWidget*>(&w_)) return t->currentIndex();
        return bar().currentIndex();
    }
    void setCurrentTab(int index) override {
        if (auto* t = qobject_cast<QTabWidget*>(&w_))
            t->setCurrentIndex(index);
        else
            bar().setCurrentIndex(index);
    }
    std::string tabTag(int index) const override { return str(bar().tabData(index).toString()); }
    std::string tabCaption(int index) const override {
        return str(PlainCaption(bar().tabText(index)));
    }
    void setTabCaption(int index, const std::string& text) override {
        bar().setTabText(index, CarryMnemonic(bar().tabText(index), qs(text)));
    }
    std::string tabToolTip(int index) const override { return str(bar().tabToolTip(index)); }
    void setTabToolTip(int index, const std::string& text) override {
        bar().setTabToolTip(index, qs(text));
    }

private:
    QString rawCaption() const {
        if (auto* l = qobject_cast<QLabel*>(&w_)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(&w_)) return b->text();
        if (auto* g = qobject_cast<QGroupBox*>(&w_)) return g->title();
        if (auto* t = qobject_cast<QTabWidget*>(&w_); t && t->currentIndex() >= 0)
            return t->tabText(t->currentIndex());
        noSuchProperty();
    }
    QTabBar& bar() const {
        auto* b = qobject_cast<QTabBar*>(&w_);
        if (b == nullptr) noSuchProperty();
        return *b;
    }

    QWidget& w_;
    QWidget& form_;
};

class WidgetForm final : public LocalizableForm {
public:
    explicit WidgetForm(QWidget& form) : form_(form) {}

    std::string tag() const override { return str(form_.property(kTagProperty).toString()); }
    std::string caption() const override { return str(form_.windowTitle()); }
    void setCaption(const std::string& text) override { form_.setWindowTitle(qs(text)); }
    std::string fontName() const override { return str(form_.font().family()); }
    void setFontName(const std::string& name) override {
        QFont font = form_.font();
        font.setFamily(qs(name));
        form_.setFont(font);
    }
    void setFontSize(int points) override {
        if (points <= 0) throw Error(380, "Invalid property value", "cvnWCHalv");
        QFont font = form_.font();
        font.setPointSize(points);
        form_.setFont(font);
    }
    std::vector<LocalizableElement*> elements() override {
        // Depth first in creation order: the order the form was built in,
        // the same on every run.
        std::vector<LocalizableElement*> list;
        for (QWidget* child : form_.findChildren<QWidget*>()) {
            elements_.push_back(std::make_unique<WidgetElement>(*child, form_));
            list.push_back(elements_.back().get());
        }
        return list;
    }

private:
    QWidget& form_;
    std::vector<std::unique_ptr<WidgetElement>> elements_;
};

}  // namespace

QString PlainCaption(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

QString CarryMnemonic(const QString& oldText, const QString& newText) {
    QString escaped = newText;
    escaped.replace(QLatin1String("&"), QLatin1String("&&"));
    QChar letter;
    for (qsizetype i = 0; i + 1 < oldText.size(); ++i) {
        if (oldText[i] != QLatin1Char('&')) continue;
        if (oldText[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        letter = oldText[i + 1];
        break;
    }
    if (letter.isNull()) return escaped;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == QLatin1Char('&')) {
            ++i;  // an escaped ampersand, never a mnemonic
            continue;
        }
        if (escaped[i].toLower() == letter.toLower()) {
            escaped.insert(i, QLatin1Char('&'));
            return escaped;
        }
    }
    return escaped;
}

void LocalizeForm(QWidget& form) noexcept {
    try {
        WidgetForm adapter(form);
        LocalizeForm(static_cast<LocalizableForm&>(adapter));
    } catch (...) {
        // Localisation is cosmetic: whatever could not be done stays as it was.
    }
}

}  // namespace cvn
