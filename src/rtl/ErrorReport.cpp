#include "rtl/ErrorReport.h"

#include <new>
#include <stdexcept>

#include "rtl/Errors.h"

std::string ErrorReportText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

namespace {

// A container asked for more than the address space holds says length_error.
bool OutOfMemory(const std::exception& error) {
    return dynamic_cast<const std::bad_alloc*>(&error) || dynamic_cast<const std::length_error*>(&error);
}

}  // namespace

std::string ErrorMessage(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->Message();
    if (OutOfMemory(error))
        return "Out of memory";
    return std::string("Unexpected error (") + error.what() + ")";
}

const char* ErrorClassName(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->ClassName();
    return OutOfMemory(error) ? "EOutOfMemory" : "Exception";
}
