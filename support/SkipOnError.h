// Routines that must run every step even when one fails (the dialog's
// show and OK, the driver's preparation pass) wrap each step in this: a
// failing step is skipped and the next one runs.
#pragma once

namespace cvn {

template <typename F>
void SkipOnError(F&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace cvn
