// Helpers shared by the automation tests: readable Variant output in failure
// messages and the number of the automation error a call raised.
#pragma once

#include <ostream>

#include "automation/AutomationError.h"
#include "automation/Variant.h"

namespace cvn::automation {

inline void PrintTo(const Variant& v, std::ostream* os) {
    *os << describe(v);
}

// Runs f and returns the automation error number it raised (0: none).
template <typename F>
int errorOf(F&& f) {
    try {
        f();
    } catch (const AutomationError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace cvn::automation
