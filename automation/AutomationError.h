// Errors raised by the automation runtime and by dispatch members. They keep
// the runtime's standard numbers so a host that reports "error 13" sees the
// same thing it would see from any other automation server.
#pragma once

#include <cstdint>
#include <string>

#include "support/Error.h"

namespace cvn::automation {

enum class ErrorNumber : int32_t {
    InvalidCall = 5,           // invalid procedure call or argument
    Overflow = 6,              //
    SubscriptOutOfRange = 9,   //
    DivisionByZero = 11,       //
    TypeMismatch = 13,         //
    MemberNotSupported = 438,  // object doesn't support this property or method
    ArgumentNotOptional = 449,
};

// The component name errors carry when the raiser does not name one.
inline constexpr const char* kDefaultErrorSource = "cvnWCHalv";

class AutomationError : public cvn::Error {
public:
    // Standard number with its standard description.
    explicit AutomationError(ErrorNumber number, std::string source = kDefaultErrorSource);
    // Standard number with a more specific description.
    AutomationError(ErrorNumber number, std::string description, std::string source);

    static std::string standardDescription(ErrorNumber number);
};

}  // namespace cvn::automation
