#include "GifDump.h"

#include "gif/JvGIF.h"
#include "rtl/ErrorReport.h"
#include "rtl/Errors.h"
#include "rtl/Streams.h"

#include <cstdio>
#include <exception>

namespace gifdump {

namespace {

const char* const UsageText =
    "usage: gifdump info FILE\n"
    "       gifdump frame FILE N OUT.bmp\n"
    "  info   prints the image and its frames as one JSON object\n"
    "  frame  writes frame N (0 is the first) as a BMP file\n"
    "exit status: 0 done, 1 the GIF failed to load (the error on standard error),\n"
    "             2 usage error (arguments, N out of range, FILE unreadable, OUT or the output\n"
    "             not writable)\n";

constexpr int ExitLoadFailed = 1;
constexpr int ExitUsage = 2;

struct UsageError {
    std::string Message;
};

std::string ColorOrNull(TColor color) {
    if (color == clNone) return "null";
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%06X\"", static_cast<unsigned>(color & 0xFFFFFF));
    return text;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    size_t n;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

std::string Frames(TJvGIFImage& image) {
    std::string out;
    for (int i = 0; i < image.FrameCount(); ++i) {
        TJvGIFFrame* frame = image.FrameAt(i);
        const TGIFItem* data = frame->SharedData();
        char text[512];
        std::snprintf(text, sizeof text,
                      "    {\"left\": %d, \"top\": %d, \"width\": %d, \"height\": %d, \"interlaced\": %s, "
                      "\"local_table\": %s, \"pixel_depth\": %d, \"key_color\": %s, \"delay_ms\": %u, "
                      "\"disposal\": %u, \"corrupted\": %s}",
                      frame->Origin().X, frame->Origin().Y, data->RasterSize.X, data->RasterSize.Y,
                      Bool(frame->IsInterlaced()), Bool(frame->HasLocalTable()), data->PixelDepth,
                      ColorOrNull(frame->KeyColor()).c_str(), static_cast<unsigned>(frame->DelayMs()),
                      static_cast<unsigned>(frame->DisposalMode()), Bool(frame->IsCorrupted()));
        out += text;
        out += i + 1 < image.FrameCount() ? ",\n" : "\n";
    }
    return out;
}

void LoadImage(const std::string& path, TJvGIFImage& image) {
    TMemoryStream file;
    try {
        file.LoadFromFile(path);
    } catch (const EStreamError&) {
        throw UsageError{"cannot read " + path};
    }
    image.LoadFromStream(file);
}

int ParseFrameIndex(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError{"frame index must be a number from 0: " + text};
    return std::stoi(text);
}

}  // namespace

std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    char esc[8];
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (size_t n = Utf8Length(bytes, i)) {
            out.append(bytes, i, n);
            i += n;
            continue;
        } else {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        }
        ++i;
    }
    return out + "\"";
}

std::string InfoJson(TJvGIFImage& image) {
    // Decode every frame once so that "corrupted" is known for all of them.
    for (int i = 0; i < image.FrameCount(); ++i) image.FrameAt(i)->FrameBitmap();

    const TGIFData* header = image.SharedHeader();
    std::string comments;
    for (int i = 0; i < header->CommentLines.Count(); ++i) {
        if (i > 0) comments += ", ";
        comments += JsonString(header->CommentLines[i]);
    }
    const char* version = image.GifVersion() == 1 ? "\"87a\"" : image.GifVersion() == 2 ? "\"89a\"" : "null";
    char head[512];
    std::snprintf(head, sizeof head,
                  "{\n  \"version\": %s,\n  \"logical_width\": %d,\n  \"logical_height\": %d,\n"
                  "  \"global_colors\": %d,\n  \"backdrop_color\": %s,\n  \"loop_declared\": %s,\n"
                  "  \"loop_count\": %u,\n",
                  version, image.LogicalWidth(), image.LogicalHeight(), header->GlobalColors().Count,
                  ColorOrNull(image.BackdropColor()).c_str(), Bool(image.LoopDeclared()),
                  static_cast<unsigned>(image.LoopCount()));
    std::string out = head;
    out += "  \"comments\": [" + comments + "],\n";
    out += "  \"frames\": [\n" + Frames(image) + "  ]\n}\n";
    return out;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const bool info = args.size() == 2 && args[0] == "info";
        const bool frame = args.size() == 4 && args[0] == "frame";
        if (!info && !frame) throw UsageError{""};
        // The index is checked as text before loading, against the frame count after.
        const int index = frame ? ParseFrameIndex(args[2]) : 0;
        TJvGIFImage image;
        LoadImage(args[1], image);
        if (info) {
            out << InfoJson(image);
            if (!out.flush()) throw UsageError{"cannot write the output"};
            return 0;
        }
        if (index >= image.FrameCount())
            throw UsageError{"frame " + args[2] + " out of range: the image has " +
                             std::to_string(image.FrameCount()) + " frame(s)"};
        TMemoryStream bmp;
        image.FrameAt(index)->BuildBitmapStream(bmp);
        try {
            bmp.SaveToFile(args[3]);
        } catch (const EStreamError&) {
            throw UsageError{"cannot write " + args[3]};
        }
        return 0;
    } catch (const UsageError& e) {
        if (!e.Message.empty()) err << "gifdump: " << e.Message << "\n";
        err << UsageText;
        return ExitUsage;
    } catch (const std::exception& e) {
        err << ErrorClassName(e) << ": " << ErrorMessage(e) << "\n";
        return ExitLoadFailed;
    }
}

}  // namespace gifdump
