// Qt forms for the string-table localisation of support/LocalizeForm.h:
// a widget form's title and font, and the caption and tooltip of every
// element that carries a text number.
//
// A widget's text number is its dynamic property "tag" (a string, as typed
// into a form designer); the number of its tooltip text is the property
// "tooltipTag", or, when that is absent, the tooltip text itself. A tab of
// a stand-alone QTabBar keeps its text number in the tab's data and the
// number of its tooltip in the tab's tooltip.
#pragma once

#include <QString>

#include "support/LocalizeForm.h"

class QWidget;

namespace cvn {

inline constexpr const char* kTagProperty = "tag";
inline constexpr const char* kTooltipTagProperty = "tooltipTag";

// The form's children are its elements, depth first in creation order. A
// QLabel is a "Label", a QTabWidget an "SSTab" (its current tab's text is
// the caption), a stand-alone QTabBar a "TabStrip"; buttons and group
// boxes have their text or title as caption; other widgets have none.
// Mnemonic markers survive a new caption. Never throws.
void LocalizeForm(QWidget& form) noexcept;

// A caption as the user reads it: the mnemonic marker "&" removed ("&&"
// stays as one "&").
QString PlainCaption(const QString& text);
// newText with the mnemonic of oldText carried over: the first occurrence
// of the same letter (any case) gets the marker. Without one, newText with
// its ampersands escaped.
QString CarryMnemonic(const QString& oldText, const QString& newText);

}  // namespace cvn
