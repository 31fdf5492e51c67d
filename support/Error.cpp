#include "support/Error.h"

#include <exception>

namespace cvn {

ErrorInfo ErrorInfo::current() noexcept {
    ErrorInfo info;
    std::exception_ptr current = std::current_exception();
    if (!current) return info;
    try {
        std::rethrow_exception(current);
    } catch (const Error& e) {
        info.number = e.number();
        info.description = e.description();
        info.source = e.source();
    } catch (const std::exception& e) {
        // Errors from the standard library or Qt: report them as a general
        // failure of the add-in itself.
        info.number = 1;
        info.description = e.what();
        info.source = "cvnWCHalv";
    } catch (...) {
        info.number = 1;
        info.description = "Unknown error";
        info.source = "cvnWCHalv";
    }
    return info;
}

}  // namespace cvn
