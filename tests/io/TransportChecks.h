// What the tests against the simulator check after each case: the error an
// operation ended with, that the session still answers in step, that a cut
// block says so; and the simulator's side channel, which no fault touches.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "io/IoError.h"
#include "io/IoSession.h"

namespace cvn::io::test {

// The code of the IoError `f` throws, which must say what went wrong; a
// value-initialised code when it throws none.
inline IoErrorCode CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const IoError& e) {
        EXPECT_FALSE(e.description().empty());
        return e.code();
    }
    return IoErrorCode{};
}

// Runs fn and returns the IoError it throws (fails the test if none).
template <typename Fn>
IoError errorOf(Fn&& fn) {
    try {
        fn();
    } catch (const IoError& e) {
        return e;
    }
    ADD_FAILURE() << "no IoError thrown";
    return IoError(kIoFailure, "none");
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
inline bool Answers(const IoSessionPtr& s) {
    return s && Answers(*s);
}

// A query over a connection of its own, which no fault touches.
inline std::string Ask(const std::string& address, const std::string& query) {
    auto s = IoManager().Open(address);
    s->Output(query);
    return s->EnterText();
}

// Simulator commands over a connection of its own; returns once they have
// run, with the number of messages the simulator has logged.
inline std::string Side(const std::string& address, const std::string& commands) {
    auto s = IoManager().Open(address);
    if (!commands.empty()) s->Output(commands);
    s->Output(":SIMulator:LOG:COUNt?");
    return s->EnterText();
}

// The simulator's log of what it was sent (`query` picks how much).
inline std::string SimLog(const std::string& address,
                          const std::string& query = ":SIMulator:LOG?") {
    auto s = IoManager().Open(address);
    s->Output(query);
    const auto bytes = s->EnterBytes();
    return std::string(bytes.begin(), bytes.end());
}

// A block cut off in its data (a pulled cable, an unplugged device): the
// read says so, and the session stays closed.
inline void ExpectCutBlock(IoSession& s) {
    s.Output(":WAVeform:SOURce CHAN1;:WAVeform:FORMat WORD;:WAVeform:DATA?");
    const IoError e = errorOf([&] { s.EnterWords(); });
    EXPECT_EQ(e.code(), kIoClosed) << e.what();
    EXPECT_NE(std::string(e.what()).find("inside the block"), std::string::npos) << e.what();
    EXPECT_EQ(CodeOf([&] { s.Output("*IDN?"); }), kIoClosed);
}

}  // namespace cvn::io::test
