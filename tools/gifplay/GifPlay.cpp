// gifplay: a small GIF viewer on the GIF animator, and with --dump the
// pictures it shows of every frame, reached by playing and by jumping.
//
//   gifplay [--stretch] [--no-center] [--opaque] [--async] [--no-loop]
//           [--color 0xRRGGBB] FILE.gif
//   gifplay --dump DIR [--color 0xRRGGBB] FILE.gif
//
// Exit codes: 0 done, 1 the file could not be loaded or shown (or a picture not
// saved), 2 a usage error.

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "PngWriter.h"
#include "ScreenPicture.h"
#include "controls/JvGIFCtrl.h"
#include "rtl/ErrorReport.h"
#include "rtl/Errors.h"
#include "rtl/Streams.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "win/ScopedWin.h"
#include "win/WinText.h"

namespace {

constexpr TColor DefaultWindowColor = 0xD6D6D6;  // RGB(214, 214, 214)
constexpr int MinViewerWidth = 160, MinViewerHeight = 60;

const char Usage[] =
    "usage: gifplay [--stretch] [--no-center] [--opaque] [--async] [--no-loop] [--color 0xRRGGBB] FILE.gif\n"
    "       gifplay --dump DIR [--color 0xRRGGBB] FILE.gif\n";

struct TUsageError {
    std::string Message;
};

struct TOptions {
    std::optional<std::filesystem::path> DumpDir;
    std::filesystem::path File;
    TColor Color = DefaultWindowColor;
    bool Stretch = false, Center = true, Transparent = true, Async = false, Loop = true;
};

// "0xRRGGBB", red in the high byte as in HTML colours; TColor keeps red low.
TColor ParseColor(const std::string& text) {
    const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!prefixed || text.size() > 8 ||
        !std::all_of(text.begin() + 2, text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        throw TUsageError{"--color wants 0xRRGGBB, not \"" + text + "\""};
    const unsigned long rgb = std::stoul(text.substr(2), nullptr, 16);
    return static_cast<TColor>(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}

TOptions ParseArguments(const std::vector<std::string>& args) {
    TOptions options;
    bool viewerOption = false, haveFile = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw TUsageError{a + " wants a value"};
            return args[++i];
        };
        if (a == "--dump") {
            if (options.DumpDir)
                throw TUsageError{"--dump given twice"};
            options.DumpDir = std::filesystem::path(Utf8ToWide(value()));
        } else if (a == "--color") {
            options.Color = ParseColor(value());
        } else if (a == "--stretch" || a == "--no-center" || a == "--opaque" || a == "--async" || a == "--no-loop") {
            viewerOption = true;
            options.Stretch |= a == "--stretch";
            options.Center &= a != "--no-center";
            options.Transparent &= a != "--opaque";
            options.Async |= a == "--async";
            options.Loop &= a != "--no-loop";
        } else if (a.size() > 1 && a[0] == '-') {
            throw TUsageError{"unknown option " + a};
        } else if (haveFile) {
            throw TUsageError{"one file only"};
        } else {
            options.File = std::filesystem::path(Utf8ToWide(a));
            haveFile = true;
        }
    }
    if (!haveFile)
        throw TUsageError{"no file given"};
    if (options.DumpDir && viewerOption)
        throw TUsageError{"--dump takes only --color"};
    return options;
}

std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i)
        args.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
    const char* ClassName() const noexcept override { return "EFOpenError"; }
};

void LoadImage(TJvGIFAnimator& animator, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw EFOpenError(Format("Cannot open file \"%s\"", WideToUtf8(file.wstring()).c_str()));
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    TJvGIFImage& image = animator.Image();
    image.LoadFromStream(stream);
    // What the animator would refuse to compose, the viewer refuses to show.
    CheckPictureSize(image.LogicalWidth(), image.LogicalHeight());
}

// The form of both modes: no stored definition, everything set in code.
class TFoGifPlay : public TForm {
public:
    explicit TFoGifPlay(const TOptions& options) : TForm(nullptr) {
        SetColor(options.Color);
        Animator = new TJvGIFAnimator(this);
        Animator->SetAutoSize(false);
        Animator->SetParent(this);
    }
    const char* ClassName() const override { return "TFoGifPlay"; }
    TJvGIFAnimator* Animator;  // owned as component
};

// The screen's pixels in a rectangle of screen coordinates, red-green-blue.
std::vector<uint8_t> ReadScreen(const RECT& area) {
    TScreenPicture picture = CaptureScreen(area);
    if (picture.Empty())
        throw EOutOfResources("Cannot read the screen");
    for (size_t i = 0; i + 2 < picture.Bgr.size(); i += 3)
        std::swap(picture.Bgr[i], picture.Bgr[i + 2]);
    return std::move(picture.Bgr);
}

std::string FrameFileName(const char* pass, int frame) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", frame);
    return std::string(pass) + "-" + number + ".png";
}

// An error while painting reaches the window's message handling, which would
// show it in a box and paint on; the dump ends with it instead, before the
// picture of a frame that was not drawn is saved.
class TPaintFailure {
public:
    TPaintFailure() {
        Application->OnException = [this](const std::exception&) {
            if (!Failure_)
                Failure_ = std::current_exception();
        };
    }
    ~TPaintFailure() { Application->OnException = nullptr; }
    TPaintFailure(const TPaintFailure&) = delete;
    TPaintFailure& operator=(const TPaintFailure&) = delete;
    void ThrowIfFailed() const {
        if (Failure_)
            std::rethrow_exception(Failure_);
    }

private:
    std::exception_ptr Failure_;
};

// Sets the frame, paints the control once and saves what the screen shows of it.
void DumpFrame(TFoGifPlay& form, int frame, const std::filesystem::path& file, const TPaintFailure& failure) {
    TJvGIFAnimator& animator = *form.Animator;
    animator.SetFrameIndex(frame);
    // One paint per step: painting a composed frame again would rebuild it,
    // and playing must extend.
    animator.Invalidate();
    UpdateWindow(form.Handle());
    Application->ProcessMessages();
    failure.ThrowIfFailed();
    POINT origin{animator.Left(), animator.Top()};
    ClientToScreen(form.Handle(), &origin);
    const RECT area{origin.x, origin.y, origin.x + animator.Width(), origin.y + animator.Height()};
    const auto png = png::EncodeRgb(animator.Width(), animator.Height(), ReadScreen(area));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out.flush())
        throw EWriteError(Format("Cannot write \"%s\"", WideToUtf8(file.wstring()).c_str()));
}

int Dump(const TOptions& options) {
    const TPaintFailure failure;
    TFoGifPlay form(options);
    TJvGIFAnimator& animator = *form.Animator;
    LoadImage(animator, options.File);
    const int width = animator.Image().LogicalWidth(), height = animator.Image().LogicalHeight();
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic("The image has no logical screen");
    // The pictures are read back from the display: all of it must be there.
    if (width > GetSystemMetrics(SM_CXSCREEN) || height > GetSystemMetrics(SM_CYSCREEN))
        throw EInvalidOperation(Format("The logical screen (%d x %d) does not fit on the display", width, height));
    form.SetBorderStyle(bsNone);
    form.SetBounds(0, 0, width, height);
    form.SetClientSize(width, height);
    animator.SetBounds(0, 0, width, height);
    animator.SetCenter(true);
    animator.SetStretch(false);
    animator.SetTransparent(true);
    animator.SetAnimate(false);
    form.Show();
    SetForegroundWindow(form.Handle());
    UpdateWindow(form.Handle());
    Application->ProcessMessages();
    failure.ThrowIfFailed();

    std::error_code ignored;
    std::filesystem::create_directories(*options.DumpDir, ignored);
    const int count = animator.Image().FrameCount();
    for (int n = 0; n < count; ++n)
        DumpFrame(form, n, *options.DumpDir / FrameFileName("play", n), failure);
    for (int n = count - 1; n >= 0; --n)
        DumpFrame(form, n, *options.DumpDir / FrameFileName("jump", n), failure);
    std::cout << count << "\n";
    return 0;
}

int View(const TOptions& options) {
    TFoGifPlay form(options);
    TJvGIFAnimator& animator = *form.Animator;
    LoadImage(animator, options.File);
    TJvGIFImage& image = animator.Image();
    form.SetCaption(WideToUtf8(options.File.filename().wstring()));
    form.SetPosition(poScreenCenter);
    form.SetClientSize(std::max(image.LogicalWidth(), MinViewerWidth), std::max(image.LogicalHeight(), MinViewerHeight));
    animator.SetAlign(alClient);
    animator.SetCenter(options.Center);
    animator.SetStretch(options.Stretch);
    animator.SetTransparent(options.Transparent);
    animator.SetAsyncDrawing(options.Async);
    animator.SetLoop(options.Loop);
    animator.SetThreaded(true);
    animator.SetAnimate(true);
    form.Show();
    // Closing the window hides it, which ends the viewer.
    while (form.Visible() && !Application->Terminated())
        Application->HandleMessage();
    animator.SetAnimate(false);
    return 0;
}

}  // namespace

int wmain() {
    TOptions options;
    try {
        options = ParseArguments(Arguments());
    } catch (const TUsageError& error) {
        std::cerr << "gifplay: " << error.Message << "\n" << Usage;
        return 2;
    }
    TApplication application;
    application.Initialize();
    try {
        return options.DumpDir ? Dump(options) : View(options);
    } catch (const std::exception& error) {
        std::cerr << ErrorClassName(error) << ": " << ErrorMessage(error) << "\n";
        return 1;
    }
}
