#pragma once
// The text the central error reporting shows for an error's message.

#include <string>
#include <string_view>

// Appends a full stop when the message's last character sorts after "." (so
// letters and digits get one; ".", "!" and a space do not). Bytes compare
// unsigned, so a message ending in a non-ASCII letter gets one too.
std::string ErrorReportText(std::string_view message);
