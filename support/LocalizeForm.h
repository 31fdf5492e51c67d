// Gives a form and its elements their texts from the string table. The form
// and its elements are seen through a small interface so the routine works
// for any toolkit; the dialogs adapt their widgets to it.
//
// Any accessor may throw (for example, an element without a caption) to say
// "this element has no such property": LocalizeForm then skips that one
// assignment and goes on. It never throws itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cvn {

class LocalizableElement {
public:
    virtual ~LocalizableElement() = default;
    // "Label", "TabStrip" (tabs with their own tag and tooltip), "SSTab" (a
    // tab count, a current tab and one caption for it), or any other name.
    virtual std::string typeName() const = 0;
    virtual std::string tag() const = 0;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string toolTip() const = 0;
    virtual void setToolTip(const std::string& text) = 0;
    // Makes the element use the form's font (one shared font).
    virtual void takeFormFont() = 0;

    // Tabs; the defaults say the element has none.
    virtual int tabCount() const;
    virtual int currentTab() const;
    virtual void setCurrentTab(int index);
    virtual std::string tabTag(int index) const;
    virtual std::string tabCaption(int index) const;
    virtual void setTabCaption(int index, const std::string& text);
    virtual std::string tabToolTip(int index) const;
    virtual void setTabToolTip(int index, const std::string& text);
};

class LocalizableForm {
public:
    virtual ~LocalizableForm() = default;
    virtual std::string tag() const = 0;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string fontName() const = 0;
    virtual void setFontName(const std::string& name) = 0;
    virtual void setFontSize(int points) = 0;
    // The form's elements in their order on the form.
    virtual std::vector<LocalizableElement*> elements() = 0;
};

void LocalizeForm(LocalizableForm& form) noexcept;

// The integer a text converts to: surrounding blanks allowed, a fraction
// rounded half to even, 16-bit range. Nothing for anything else.
std::optional<int16_t> TextToInt16(const std::string& text);
// The leading numeric part of a text, blanks ignored, 0 when there is none.
double LeadingNumber(const std::string& text);

}  // namespace cvn
