// Localisation of forms: captions, tooltips and the font from the string
// table. Every assignment stands alone; one that fails is skipped.
#include "support/LocalizeForm.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "support/Error.h"
#include "support/StringTable.h"

namespace cvn {
namespace {

constexpr int32_t kNoSuchProperty = kNoSuchMember;
constexpr int32_t kTypeMismatch = 13;
constexpr int32_t kOverflow = 6;
constexpr int16_t kFontNameText = 20;
constexpr int16_t kFontSizeText = 21;

[[noreturn]] void noSuchProperty() {
    throw Error(kNoSuchProperty, "Object doesn't support this property or method", "cvnWCHalv");
}

// One assignment: a failure of any kind leaves it undone and nothing else.
template <typename Statement>
void attempt(Statement&& statement) noexcept {
    try {
        statement();
    } catch (...) {
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int16_t toInt16(double value) {
    const double rounded = std::nearbyint(value);  // default rounding: half to even
    if (!(rounded >= INT16_MIN && rounded <= INT16_MAX)) {
        throw Error(kOverflow, "Overflow", "cvnWCHalv");
    }
    return static_cast<int16_t>(rounded);
}

int16_t textNumber(const std::string& text) {
    const std::optional<int16_t> n = TextToInt16(text);
    if (!n) throw Error(kTypeMismatch, "Type mismatch", "cvnWCHalv");
    return *n;
}

void localizeElement(LocalizableElement& element) {
    attempt([&] { element.takeFormFont(); });
    const std::string kind = element.typeName();
    if (kind == "Label") {
        attempt([&] {
            element.setCaption(GetResString(textNumber(element.tag()), element.caption()));
        });
    } else if (kind == "TabStrip") {
        int count = 0;
        attempt([&] { count = element.tabCount(); });
        for (int i = 0; i < count; ++i) {
            attempt([&] {
                element.setTabCaption(
                    i, GetResString(textNumber(element.tabTag(i)), element.tabCaption(i)));
            });
            attempt([&] {
                element.setTabToolTip(i, GetResString(textNumber(element.tabToolTip(i)), ""));
            });
        }
    } else if (kind == "SSTab") {
        int count = 0;
        attempt([&] { count = element.tabCount(); });
        for (int i = 0; i < count; ++i) {
            attempt([&] { element.setCurrentTab(i); });
            attempt([&] {
                const int16_t number = toInt16(double(textNumber(element.tag())) + i);
                element.setCaption(GetResString(number, element.caption()));
            });
        }
    } else {
        attempt([&] {
            const int16_t n = toInt16(LeadingNumber(element.tag()));
            if (n > 0) element.setCaption(GetResString(n, element.caption()));
        });
        attempt([&] {
            const int16_t m = toInt16(LeadingNumber(element.toolTip()));
            if (m >= 1) element.setToolTip(GetResString(m, ""));
        });
    }
}

}  // namespace

int LocalizableElement::tabCount() const {
    noSuchProperty();
}
int LocalizableElement::currentTab() const {
    noSuchProperty();
}
void LocalizableElement::setCurrentTab(int) {
    noSuchProperty();
}
std::string LocalizableElement::tabTag(int) const {
    noSuchProperty();
}
std::string LocalizableElement::tabCaption(int) const {
    noSuchProperty();
}
void LocalizableElement::setTabCaption(int, const std::string&) {
    noSuchProperty();
}
std::string LocalizableElement::tabToolTip(int) const {
    noSuchProperty();
}
void LocalizableElement::setTabToolTip(int, const std::string&) {
    noSuchProperty();
}

std::optional<int16_t> TextToInt16(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    const std::string number = text.substr(begin, end - begin);
    if (number.empty()) return std::nullopt;
    // strtod also takes "inf", "nan" and hex; a tag is plain decimal.
    for (char c : number) {
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
            return std::nullopt;
        }
    }
    char* stop = nullptr;
    const double value = std::strtod(number.c_str(), &stop);
    if (stop != number.c_str() + number.size()) return std::nullopt;
    try {
        return toInt16(value);
    } catch (const Error&) {
        return std::nullopt;
    }
}

double LeadingNumber(const std::string& text) {
    std::string compact;
    for (char c : text) {
        if (!isBlank(c)) compact += c;
    }
    size_t i = 0;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) ++i;
    const size_t digitsStart = i;
    while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') ++i;
    if (i < compact.size() && compact[i] == '.') {
        ++i;
        while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') ++i;
    }
    if (i == digitsStart || (i == digitsStart + 1 && compact[digitsStart] == '.')) return 0.0;
    size_t end = i;
    if (i < compact.size() && (compact[i] == 'e' || compact[i] == 'E')) {
        size_t j = i + 1;
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-')) ++j;
        const size_t expStart = j;
        while (j < compact.size() && compact[j] >= '0' && compact[j] <= '9') ++j;
        if (j > expStart) end = j;
    }
    return std::strtod(compact.substr(0, end).c_str(), nullptr);
}

void LocalizeForm(LocalizableForm& form) noexcept {
    attempt([&] { form.setCaption(GetResString(textNumber(form.tag()), "")); });
    attempt([&] { form.setFontName(GetResString(kFontNameText, form.fontName())); });
    attempt([&] { form.setFontSize(textNumber(GetResString(kFontSizeText, "8"))); });
    std::vector<LocalizableElement*> elements;
    attempt([&] { elements = form.elements(); });
    for (LocalizableElement* element : elements) {
        if (element == nullptr) continue;
        std::string tag;
        attempt([&] { tag = element->tag(); });
        if (tag.empty()) continue;
        try {
            localizeElement(*element);
        } catch (...) {
        }
    }
}

}  // namespace cvn
