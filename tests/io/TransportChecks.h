// What the tests of the transports against the simulator check after each
// case: the error an operation ended with, that the session still answers
// in step, and that the byte record and the screen image come whole.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
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

// Pod 1's record as bytes (`points` of them) and the screen image come
// whole, and nothing of them is left over for the next query.
inline void ExpectPodBytesAndScreenImage(IoSession& s, size_t points) {
    s.Output(":POD1:DISPlay ON;:WAVeform:SOURce POD1;:WAVeform:FORMat BYTE;:WAVeform:DATA?");
    EXPECT_EQ(s.EnterBytes().size(), points);
    s.Output(":DISPlay:DATA? BMP, SCReen");
    const auto image = s.EnterBytes();
    ASSERT_GT(image.size(), 54u);
    EXPECT_EQ(image[0], 'B');
    EXPECT_EQ(image[1], 'M');
    EXPECT_TRUE(Answers(s));
}

}  // namespace cvn::io::test
