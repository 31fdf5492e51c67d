#include "automation/AutomationError.h"

namespace cvn::automation {

AutomationError::AutomationError(ErrorNumber number, std::string source)
    : AutomationError(number, standardDescription(number), std::move(source)) {}

AutomationError::AutomationError(ErrorNumber number, std::string description, std::string source)
    : cvn::Error(static_cast<int32_t>(number), std::move(description), std::move(source)) {}

std::string AutomationError::standardDescription(ErrorNumber number) {
    switch (number) {
        case ErrorNumber::InvalidCall:
            return "Invalid procedure call or argument";
        case ErrorNumber::Overflow:
            return "Overflow";
        case ErrorNumber::SubscriptOutOfRange:
            return "Subscript out of range";
        case ErrorNumber::DivisionByZero:
            return "Division by zero";
        case ErrorNumber::TypeMismatch:
            return "Type mismatch";
        case ErrorNumber::MemberNotSupported:
            return "Object doesn't support this property or method";
        case ErrorNumber::ArgumentNotOptional:
            return "Argument not optional";
    }
    return "Application-defined or object-defined error";
}

}  // namespace cvn::automation
