// Address texts: every accepted form and the ones that must be refused.
#include <gtest/gtest.h>

#include "io/Address.h"
#include "io/IoError.h"
#include "io/IoSession.h"

namespace cvn::io {
namespace {

TEST(Address, AcceptedForms) {
    struct Case {
        std::string text;
        Bus bus;
        std::string where;  // host, device name (VXI-11) or device path
        int number;         // port, GPIB address or vendor id (0 where none)
    };
    const std::vector<Case> cases = {
        {"TCPIP0::192.168.1.20::5025::SOCKET", Bus::Socket, "192.168.1.20", 5025},
        {"tcpip::scope.lab::5555::socket", Bus::Socket, "scope.lab", 5555},
        {"TCPIP::[fe80::1]::5025::SOCKET", Bus::Socket, "fe80::1", 5025},
        {"10.0.0.7:5025", Bus::Socket, "10.0.0.7", 5025},
        {"  scope-3 ", Bus::Socket, "scope-3", 5025},
        {"[::1]:6000", Bus::Socket, "::1", 6000},
        {"[::1]", Bus::Socket, "::1", 5025},
        {"::1", Bus::Socket, "::1", 5025},
        {"usbscope.example.com:5025", Bus::Socket, "usbscope.example.com", 5025},
        {"TCPIP0::10.0.0.9::INSTR", Bus::Vxi11, "inst0", 0},
        {"TCPIP::10.0.0.9::inst1::INSTR", Bus::Vxi11, "inst1", 0},
        {"USB0::0x1A2B::0x0003::SN42::INSTR", Bus::Usbtmc, "", 0x1a2b},
        {"usb::6699::3", Bus::Usbtmc, "", 6699},
        {"/dev/usbtmc2", Bus::Usbtmc, "/dev/usbtmc2", 0},
        {"ASRL/dev/ttyUSB0::INSTR", Bus::Serial, "/dev/ttyUSB0", 0},
        {"ASRL2::INSTR", Bus::Serial, "/dev/ttyS1", 0},
        {"COM1", Bus::Serial, "/dev/ttyS0", 0},
        {"com3::INSTR", Bus::Serial, "/dev/ttyS2", 0},
        {"/dev/ttyACM0", Bus::Serial, "/dev/ttyACM0", 0},
        {"GPIB0::7::INSTR", Bus::Gpib, "", 7},
        {"gpib::12", Bus::Gpib, "", 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Address a = parseAddress(c.text);
        EXPECT_EQ(a.bus, c.bus);
        const bool socket = a.bus == Bus::Socket;
        EXPECT_EQ(socket ? a.host : a.bus == Bus::Vxi11 ? a.deviceName : a.devicePath, c.where);
        EXPECT_EQ(socket ? a.port : a.bus == Bus::Gpib ? a.gpibPrimary : a.vendorId, c.number);
    }
    Address usb = parseAddress("USB0::0x1A2B::0x0003::SN42::INSTR");
    EXPECT_EQ(usb.productId, 3);
    EXPECT_EQ(usb.serialNumber, "SN42");
}

TEST(Address, BadTextsAreRefusedWithTheForms) {
    // The NUL texts: a device path with a NUL in it would reach open(2) cut
    // to the name of another device (the first as the address fuzzer found it).
    using namespace std::string_literals;
    for (const std::string& bad :
         std::vector<std::string>{""s,
                                  "   ",
                                  "host:0",
                                  "host:99999",
                                  "host:",
                                  "TCPIP::h::x::SOCKET",
                                  "TCPIP::h::SOCKET",
                                  "USB::0x12345::1",
                                  "USB::1",
                                  "GPIB::31",
                                  "GPIB::x",
                                  "COM0",
                                  "VXI::1::INSTR",
                                  "[::1",
                                  "[::1]x",
                                  "ho st",
                                  "/dev/usbtmcX",
                                  "TCPIP::bad host::INSTR",
                                  std::string("ASRL/dev/tt:IN\xff\xff_\xb0\x00\x00t\xa8STR", 25),
                                  std::string("/dev/ttyS0\0/dev/ttyS1", 21),
                                  std::string("ASRL/dev/ttyUSB0\0::INSTR", 24),
                                  std::string("COM1\0", 5),
                                  std::string("\0", 1)}) {
        try {
            parseAddress(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kIoBadAddress) << bad;
            EXPECT_NE(e.description().find("TCPIP[n]::host::port::SOCKET"), std::string::npos);
        }
    }
}

TEST(Address, AnUnsupportedBusFailsToOpenWithAHint) {
    // VXI-11 opens now (Vxi11TransportTest); GPIB stays unsupported.
    try {
        IoManager().Open("GPIB0::7::INSTR", 100);
        ADD_FAILURE() << "opened a GPIB address";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kIoNotSupported);
        EXPECT_NE(e.description().find("not supported"), std::string::npos);
    }
}

}  // namespace
}  // namespace cvn::io
