// The one error type that crosses subsystem boundaries. Every failure the
// user may need to hear about carries a number, a description and the name of
// the component that raised it, so the error handler can report all three.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cvn {

// The error numbers of the automation runtime that script hosts know, for
// the failures this system reports with them.
inline constexpr int32_t kInvalidCall = 5;           // invalid procedure call or argument
inline constexpr int32_t kFileExists = 58;           // the file already exists
inline constexpr int32_t kPathError = 75;            // path or file access error
inline constexpr int32_t kCannotCreateObject = 429;  // the component cannot create the object
inline constexpr int32_t kNoSuchMember = 438;        // no such property or method

class Error : public std::runtime_error {
public:
    Error(int32_t number, std::string description, std::string source)
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          source_(std::move(source)) {}

    int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const std::string& source() const noexcept { return source_; }

private:
    int32_t number_;
    std::string description_;
    std::string source_;
};

// What the error handler reads of the error being handled.
struct ErrorInfo {
    int32_t number = 0;
    std::string description;
    std::string source;

    // Describes the exception currently being handled (call from a catch
    // block); outside a catch block the result is number 0 with empty texts.
    static ErrorInfo current() noexcept;
};

}  // namespace cvn
