// Errors of the instrument I/O library. Every failed operation throws an
// IoError; callers never see a socket errno or a partial result.
#pragma once

#include <cstdint>
#include <string>

#include "support/Error.h"

namespace cvn::io {

// Error numbers of the I/O library (its own range, so a log tells at a
// glance that the fault was on the wire and not in the add-in).
enum IoErrorCode : int32_t {
    kIoBadAddress = 5001,     // the address text does not parse
    kIoNotSupported = 5002,   // a bus or protocol this system cannot speak
    kIoOpenFailed = 5003,     // host unknown, connection refused, device missing
    kIoTimeout = 5004,        // the operation did not finish within Timeout
    kIoClosed = 5005,         // the instrument closed or dropped the connection
    kIoFailure = 5006,        // any other error of the operating system
    kIoMalformed = 5007,      // a reply that is not what the read format expects
    kIoBlockTooLarge = 5008,  // a block header that declares more than we accept
    kIoNoSession = 5009,      // an operation on a session that is closed
};

inline constexpr const char* kIoErrorSource = "cvnIO";

class IoError : public cvn::Error {
public:
    IoError(IoErrorCode code, std::string description)
        : cvn::Error(code, std::move(description), kIoErrorSource) {}
    IoErrorCode code() const noexcept { return static_cast<IoErrorCode>(number()); }
};

}  // namespace cvn::io
