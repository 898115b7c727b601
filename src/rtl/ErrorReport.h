#pragma once
// The text the central error reporting and the tools show for an error.

#include <exception>
#include <string>
#include <string_view>

// Appends a full stop when the message's last character sorts after "." (so
// letters and digits get one; ".", "!" and a space do not). Bytes compare
// unsigned, so a message ending in a non-ASCII letter gets one too.
std::string ErrorReportText(std::string_view message);

// What an error says in words. The framework's errors carry their message;
// the standard library's name only their C++ type ("std::bad_alloc"), so
// running out of memory reads "Out of memory" and the others are named
// unexpected.
std::string ErrorMessage(const std::exception& error);
// The class a tool prints before the message: the framework's own,
// EOutOfMemory for running out of memory, else "Exception".
const char* ErrorClassName(const std::exception& error);
