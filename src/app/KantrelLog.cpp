#include "app/KantrelLog.h"

#include <exception>

namespace {

constexpr const char* LogFolderName = "Kantrel";
constexpr int LastNameSuffix = 99;

}  // namespace

bool TKantrelLog::Open() {
    TLauncherFiles& files = Files_;
    if (IsOpen())
        return true;
    try {
        const std::string temp = files.TempFolder();
        if (temp.empty())
            return false;
        const std::string folder = temp + LogFolderName;
        if (!files.CreateFolder(folder))
            return false;
        const std::string stem = folder + "\\Kantrel_" + TimeStampName(files.LocalTime(files.Now()));
        for (int suffix = 1; suffix <= LastNameSuffix; ++suffix) {
            std::string path = stem;
            if (suffix > 1)
                path += '_' + std::to_string(suffix);
            path += ".log";
            TCreateResult result = crFailed;
            std::unique_ptr<TAppendFile> file = files.CreateNewFile(path, result);
            if (result == crExists)
                continue;
            if (!file || !file->Append("\xEF\xBB\xBF"))
                return false;
            File_ = std::move(file);
            Path_ = path;
            return true;
        }
    } catch (const std::exception&) {
    }
    return false;
}

void TKantrelLog::Write(const std::string& text) {
    if (!File_)
        return;
    try {
        std::string line = TimeText(Files_.LocalTime(Files_.Now())) + "  ";
        for (size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '\r' || text[at] == '\n') {
                if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
                    ++at;
                line += "\r\n" + std::string(21, ' ');
            } else {
                line += text[at];
            }
        }
        line += "\r\n";
        if (!File_->Append(line))
            File_.reset();
    } catch (const std::exception&) {
        File_.reset();
    }
}

std::string WithoutPassword(std::string text, const std::string& password) {
    if (password.empty())
        return text;
    const std::string mask = LoggedPassword;
    for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + mask.size()))
        text.replace(at, password.size(), mask);
    return text;
}
