// Helpers for tests of IoSession over the scripted transport.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeTransport.h"
#include "io/IoError.h"
#include "io/IoSession.h"
#include "tests/io/TransportChecks.h"

namespace cvn::io::test {

using AtEnd = FakeTransport::AtEnd;

// A session over a scripted transport, with a short time-out.
struct Fixture {
    FakeTransport* fake;
    IoSession session;
};

inline std::unique_ptr<Fixture> makeSession(
    std::vector<Chunk> chunks, FakeTransport::AtEnd atEnd = FakeTransport::AtEnd::Silent,
    bool messageBased = false) {
    auto t = std::make_unique<FakeTransport>(std::move(chunks), atEnd, messageBased);
    FakeTransport* raw = t.get();
    auto f = std::unique_ptr<Fixture>(new Fixture{raw, IoSession("fake", std::move(t))});
    f->session.SetTimeout(200);
    return f;
}

inline std::string str(const cvn::DataVector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

}  // namespace cvn::io::test
