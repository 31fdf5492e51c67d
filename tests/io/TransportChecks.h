// What the tests of the transports against the simulator check after each
// case: the error an operation ended with, that the session still answers
// in step, and that the byte record and the screen image come whole.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

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

// Simulator commands over a connection of its own, which no fault touches;
// returns once they have run.
inline void Side(const std::string& address, const std::string& commands) {
    auto s = IoManager().Open(address);
    s->Output(commands + ";:SIMulator:LOG:COUNt?");
    s->EnterText();
}

// A block cut off in its data (a pulled cable, an unplugged device): the
// read says so, and the session stays closed.
inline void ExpectCutBlock(IoSession& s) {
    s.Output(":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    try {
        s.EnterWords();
        ADD_FAILURE() << "a cut block was accepted";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoClosed) << e.what();
        EXPECT_NE(std::string(e.what()).find("inside the block"), std::string::npos) << e.what();
    }
    EXPECT_EQ(CodeOf([&] { s.Output("*IDN?"); }), kIoClosed);
}

}  // namespace cvn::io::test
