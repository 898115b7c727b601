#include "app/SetupSummary.h"

#include <cstdint>

namespace {

constexpr uint32_t ReplacementCharacter = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

enum TSequence {
    sqValid,
    sqInvalid,
    sqCut,  // would be valid, but the bytes end inside it
};

// The well-formed UTF-8 sequence at `at` (no overlong forms, surrogates or
// values past U+10FFFF) and its length.
TSequence Utf8Sequence(std::string_view s, size_t at, size_t& length) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    length = 1;
    if (lead < 0x80)
        return sqValid;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return sqInvalid;
    }
    for (size_t i = 1; i < length; ++i) {
        if (at + i >= s.size())
            return sqCut;
        const unsigned char next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return sqInvalid;
    }
    return sqValid;
}

bool IsStrictUtf8(std::string_view s, bool truncated) {
    for (size_t at = 0, length = 0; at < s.size(); at += length) {
        const TSequence sequence = Utf8Sequence(s, at, length);
        if (sequence == sqInvalid || (sequence == sqCut && !truncated))
            return false;
        if (sequence == sqCut)
            break;
    }
    return true;
}

// Well-formed sequences kept, each bad byte replaced.
std::string LenientUtf8(std::string_view s, bool truncated) {
    std::string out;
    out.reserve(s.size());
    for (size_t at = 0, length = 0; at < s.size(); at += length) {
        const TSequence sequence = Utf8Sequence(s, at, length);
        if (sequence == sqValid) {
            out.append(s.substr(at, length));
            continue;
        }
        if (sequence == sqCut && truncated)
            break;
        length = 1;
        AppendUtf8(out, ReplacementCharacter);
    }
    return out;
}

std::string Utf16(std::string_view s, bool bigEndian, bool truncated) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    const size_t units = s.size() / 2;
    const auto unit = [&](size_t i) -> uint32_t {
        const auto a = static_cast<unsigned char>(s[2 * i]), b = static_cast<unsigned char>(s[2 * i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == units && truncated)
                return out;  // the pair's second half is beyond what was read
            if (i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
                ++i;
                continue;
            }
            AppendUtf8(out, ReplacementCharacter);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            AppendUtf8(out, ReplacementCharacter);
        } else {
            AppendUtf8(out, u);
        }
    }
    if (s.size() % 2 == 1 && !truncated)
        AppendUtf8(out, ReplacementCharacter);
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLabel(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool StartsWithWord(std::string_view s, std::string_view word) {
    return s.size() >= word.size() && SameLabel(s.substr(0, word.size()), word);
}

bool ContainsWord(std::string_view s, std::string_view word) {
    for (size_t at = 0; at + word.size() <= s.size(); ++at)
        if (SameLabel(s.substr(at, word.size()), word))
            return true;
    return false;
}

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A value as it may go into a message box: a NUL would end the box's text
// there, and line breaks cannot come from one line anyway.
std::string CleanValue(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return std::string(Trim(out));
}

void SetOnce(std::string& field, std::string_view value) {
    if (field.empty())
        field = CleanValue(value);
}

// A field of T and the label that gives it in the summary.
template <class T>
struct TLabelled {
    const char* Label;
    std::string T::*Field;
};

bool NotPassed(const TSummaryFeature& feature) {
    return !feature.Status.empty() && !StartsWithWord(feature.Status, "Passed");
}

}  // namespace

std::string DecodeSummaryText(std::string_view bytes, bool truncated, const TAnsiDecoder& ansi) {
    if (StartsWith(bytes, "\xEF\xBB\xBF"))
        return LenientUtf8(bytes.substr(3), truncated);
    if (StartsWith(bytes, "\xFF\xFE"))
        return Utf16(bytes.substr(2), false, truncated);
    if (StartsWith(bytes, "\xFE\xFF"))
        return Utf16(bytes.substr(2), true, truncated);
    if (IsStrictUtf8(bytes, truncated))
        return LenientUtf8(bytes, truncated);
    return ansi ? ansi(bytes) : std::string();
}

TSetupSummary ParseSetupSummary(std::string_view text) {
    TSetupSummary summary;
    TSummaryFeature feature;
    bool inFeature = false;
    const auto endFeature = [&] {
        if (inFeature && !summary.FailedFeature && NotPassed(feature))
            summary.FailedFeature = std::move(feature);
        feature = {};
        inFeature = false;
    };
    static const TLabelled<TSetupSummary> overall[] = {
        {"Final result", &TSetupSummary::FinalResult},
        {"Exit code (Decimal)", &TSetupSummary::ExitCode},
        {"Exit facility code", &TSetupSummary::ExitFacilityCode},
        {"Exit error code", &TSetupSummary::ExitErrorCode},
        {"Exit message", &TSetupSummary::ExitMessage},
        {"Start time", &TSetupSummary::StartTime},
        {"End time", &TSetupSummary::EndTime},
        {"Requested action", &TSetupSummary::RequestedAction},
        {"Log with failure", &TSetupSummary::LogWithFailure},
    };
    static const TLabelled<TSummaryFeature> featureFields[] = {
        {"Status", &TSummaryFeature::Status},
        {"Reason for failure", &TSummaryFeature::ReasonForFailure},
        {"Component error code", &TSummaryFeature::ComponentErrorCode},
        {"Error description", &TSummaryFeature::ErrorDescription},
    };

    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find_first_of("\r\n", at);
        const std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (line.empty())
            continue;
        // A line that is not indented opens another block: the feature's fields end.
        if (line[0] != ' ' && line[0] != '\t')
            endFeature();
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view label = Trim(line.substr(0, colon));
        const std::string_view value = line.substr(colon + 1);
        if (SameLabel(label, "Feature")) {
            endFeature();
            inFeature = true;
            feature.Feature = CleanValue(value);
            continue;
        }
        bool taken = false;
        if (inFeature) {
            for (const TLabelled<TSummaryFeature>& f : featureFields) {
                if (SameLabel(label, f.Label)) {
                    SetOnce(feature.*f.Field, value);
                    taken = true;
                }
            }
        }
        if (taken)
            continue;
        for (const TLabelled<TSetupSummary>& f : overall)
            if (SameLabel(label, f.Label))
                SetOnce(summary.*f.Field, value);
    }
    endFeature();
    return summary;
}

TSummaryVerdict SummaryVerdict(const TSetupSummary& summary) {
    if (summary.FinalResult.empty())
        return svUnknown;
    if (!StartsWithWord(summary.FinalResult, "Passed"))
        return svFailed;
    return ContainsWord(summary.FinalResult, "reboot") ? svPassedRebootRequired : svPassed;
}

std::optional<uint32_t> SummaryExitCode(const TSetupSummary& summary) {
    const std::string& text = summary.ExitCode;
    const bool negative = !text.empty() && text[0] == '-';
    if (text.size() == size_t(negative))
        return std::nullopt;
    int64_t value = 0;
    for (size_t i = negative; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > (negative ? int64_t(1) << 31 : int64_t(UINT32_MAX)))
            return std::nullopt;
    }
    return static_cast<uint32_t>(negative ? -value : value);
}

std::string CutText(const std::string& text, size_t maxCharacters) {
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            continue;
        if (characters++ == maxCharacters)
            return text.substr(0, at) + "\xE2\x80\xA6";
    }
    return text;
}
