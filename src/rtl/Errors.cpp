#include "rtl/Errors.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

void RaiseListIndexError(long long index) {
    throw EListError(Format(SListIndexError, static_cast<int>(index)));
}

void RaiseAssignError(const char* sourceClass, const char* targetClass) {
    throw EConvertError(Format(SAssignError, sourceClass, targetClass));
}
