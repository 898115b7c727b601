#pragma once
// What the stand-in reads of its environment and how it writes its files.

#include <string>

// The variable's value; empty when unset or too long.
std::wstring Environment(const wchar_t* name);
// Replaces the file with these bytes; false when not all were written.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
