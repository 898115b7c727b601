#include "app/LauncherFiles.h"

#include "rtl/Errors.h"

std::string TimeStampName(const TLocalTime& t) {
    return Format("%04d%02d%02d_%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
}

std::string TimeText(const TLocalTime& t) {
    return Format("%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
}
