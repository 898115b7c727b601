#pragma once
// The framework's error classes. Every error carries its message; ClassName()
// names the class the way users and tools see it ("EReadError: ...").

#include <exception>
#include <string>

// Fixed messages shared by several units.
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* SOperationAborted = "Operation aborted";

// printf-style formatting into a std::string.
std::string Format(const char* format, ...);

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message_(std::move(message)) {}
    const std::string& Message() const noexcept { return Message_; }
    const char* what() const noexcept override { return Message_.c_str(); }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string Message_;
};

#define KANTREL_ERROR_CLASS(Name, Base)                                        \
    class Name : public Base {                                                 \
    public:                                                                    \
        using Base::Base;                                                      \
        const char* ClassName() const noexcept override { return #Name; }      \
    }

// The silent abort: unwinds like any error but is never shown to the user.
class EAbort : public Exception {
public:
    EAbort() : Exception(SOperationAborted) {}
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EAbort"; }
};

KANTREL_ERROR_CLASS(EInvalidGraphic, Exception);
KANTREL_ERROR_CLASS(EInvalidGraphicOperation, Exception);
KANTREL_ERROR_CLASS(EStreamError, Exception);
KANTREL_ERROR_CLASS(EReadError, EStreamError);
KANTREL_ERROR_CLASS(EWriteError, EStreamError);
KANTREL_ERROR_CLASS(EListError, Exception);
KANTREL_ERROR_CLASS(EConvertError, Exception);
KANTREL_ERROR_CLASS(EOutOfMemory, Exception);
KANTREL_ERROR_CLASS(EOutOfResources, EOutOfMemory);
KANTREL_ERROR_CLASS(EInvalidOperation, Exception);

#undef KANTREL_ERROR_CLASS

[[noreturn]] void RaiseListIndexError(long long index);
[[noreturn]] void RaiseAssignError(const char* sourceClass, const char* targetClass);
