#pragma once
// Kantrel's own log of one run of the program, for a helpdesk to ask for:
// Kantrel\Kantrel_YYYYMMDD_hhmmss.log in the user's temporary folder, UTF-8
// with a byte-order mark and CRLF line ends, so that Notepad shows it on
// every supported Windows. A log that cannot be written writes nothing and
// changes nothing else.

#include "app/LauncherFiles.h"

#include <memory>
#include <string>

class TKantrelLog {
public:
    // Files for the log, and its clock; they outlive it.
    explicit TKantrelLog(TLauncherFiles& files) : Files_(files) {}
    // Creates the file, named after the local time now. A name that another
    // run took in the same second is never written to: the first free of
    // Kantrel_<stamp>_2.log ... _99.log is taken instead. False, and a log
    // that writes nothing, when no file can be made.
    bool Open();
    bool IsOpen() const { return File_ != nullptr; }
    // Empty when no file was made.
    const std::string& Path() const { return Path_; }
    // The text after the local time; a line break in it goes on in a new line.
    void Write(const std::string& text);

private:
    TLauncherFiles& Files_;
    std::unique_ptr<TAppendFile> File_;
    std::string Path_;
};

// How the log writes the password, whatever its length.
inline constexpr const char* LoggedPassword = "********";
// The text with every occurrence of the password replaced by LoggedPassword.
std::string WithoutPassword(std::string text, const std::string& password);
