// Address texts that once slipped through the parser (found by the address
// fuzz target), kept so that they stay refused.
#include <gtest/gtest.h>

#include <string>

#include "io/Address.h"
#include "io/IoError.h"

namespace cvn::io {
namespace {

TEST(AddressRegression, NulByteNeverReachesADevicePath) {
    // The input as the fuzzer found it: a serial device path with a NUL in
    // it, which open(2) would have cut to the name of another device.
    const std::string found("ASRL/dev/tt:IN\xff\xff_\xb0\x00\x00t\xa8STR", 25);
    const std::string cases[] = {
        found,
        std::string("/dev/ttyS0\0/dev/ttyS1", 21),
        std::string("ASRL/dev/ttyUSB0\0::INSTR", 24),
        std::string("COM1\0", 5),
        std::string("\0", 1),
    };
    for (const std::string& text : cases) {
        try {
            const Address a = parseAddress(text);
            ADD_FAILURE() << "accepted, device path '" << a.devicePath << "'";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kIoBadAddress);
        }
    }
    // The same paths without the NUL are still fine.
    EXPECT_EQ(parseAddress("ASRL/dev/ttyUSB0::INSTR").devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(parseAddress("/dev/ttyS0").bus, Bus::Serial);
}

}  // namespace
}  // namespace cvn::io
