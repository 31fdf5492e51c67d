// What the tests of the transports against the simulator check after each
// case: the error an operation ended with, and that the session still
// answers in step.
#pragma once

#include <functional>

#include "io/IoError.h"
#include "io/IoSession.h"

namespace cvn::io::test {

// The code of the IoError `f` throws; a value-initialised code when it
// throws none.
inline IoErrorCode CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const IoError& e) {
        return e.code();
    }
    return IoErrorCode{};
}

// The session answers a query with its own reply.
inline bool Answers(IoSession& s) {
    try {
        s.Output("*OPC?");
        return s.EnterText() == "1\n";
    } catch (const IoError&) {
        return false;
    }
}

}  // namespace cvn::io::test
