// gifplay --dump under Wine on generated animations: the picture of every
// frame is the same whether reached by playing or by jumping, and equals a
// composition made here from the frames' indices and palettes with the
// browsers' disposal rules (4 restores the previous picture, 5 to 7 keep).
// The pictures are read with stb_image, not with our own PNG code. Also
// gifdump and gifplay on files that declare sizes past the limits.

#include <gtest/gtest.h>

#include <windows.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "GifWriter.h"
#include "HugeGifs.h"
#include "TestFiles.h"
#include "win/ScopedWin.h"

namespace {

using gifwriter::Rgb;

struct TFrameSpec {
    int Left, Top, Width, Height;
    int Disposal;
    int Transparent;         // index, or -1
    std::vector<Rgb> Local;  // empty: the global table
};

struct TAnimation {
    const char* Name;
    int Width, Height;
    std::vector<Rgb> Global;
    std::vector<TFrameSpec> Frames;
};

// Every entry of every table has its own colour, so that a key colour never
// appears as a drawn pixel and a wrong table shows.
std::vector<Rgb> Table(int count, int seed) {
    std::vector<Rgb> table;
    for (int i = 0; i < count; ++i)
        table.push_back({static_cast<uint8_t>(seed * 40 + i * 9 + 7), static_cast<uint8_t>(200 - i * 23),
                         static_cast<uint8_t>(seed * 17 + i * 31)});
    return table;
}

// The last entry of the global table is the transparent index of every
// frame that has one and uses that table; no other frame draws it.
constexpr int GlobalKey = 7;

// Indices of frame f: spread over its table, with its transparent index
// in a scattered third of the pixels.
std::vector<uint8_t> Indices(const TFrameSpec& frame, int f, size_t tableSize) {
    const int key = frame.Transparent >= 0 ? frame.Transparent : frame.Local.empty() ? GlobalKey : -1;
    std::vector<uint8_t> indices(static_cast<size_t>(frame.Width) * frame.Height);
    for (size_t i = 0; i < indices.size(); ++i) {
        const unsigned h = static_cast<unsigned>(i * 2654435761u + f * 40503u) >> 7;
        auto index = static_cast<uint8_t>(h % tableSize);
        if (index == key)
            index = static_cast<uint8_t>((index + 1) % tableSize);
        if (frame.Transparent >= 0 && h % 3 == 0)
            index = static_cast<uint8_t>(frame.Transparent);
        indices[i] = index;
    }
    return indices;
}

gifwriter::Bytes Encode(const TAnimation& a) {
    gifwriter::GifWriter gif;
    gif.Header().Screen(static_cast<uint16_t>(a.Width), static_cast<uint16_t>(a.Height), a.Global);
    for (size_t f = 0; f < a.Frames.size(); ++f) {
        const TFrameSpec& frame = a.Frames[f];
        gif.GraphicControl(frame.Disposal, 1, frame.Transparent);
        gifwriter::ImageSpec spec;
        spec.Left = static_cast<uint16_t>(frame.Left);
        spec.Top = static_cast<uint16_t>(frame.Top);
        spec.Width = static_cast<uint16_t>(frame.Width);
        spec.Height = static_cast<uint16_t>(frame.Height);
        spec.LocalTable = frame.Local;
        spec.Indices = Indices(frame, static_cast<int>(f), (frame.Local.empty() ? a.Global : frame.Local).size());
        gif.Image(spec);
    }
    return gif.Trailer().Finish();
}

constexpr uint32_t Background = 0xFF000000;  // not a colour: what lies behind

uint32_t Pack(const Rgb& c) { return (uint32_t{c.R} << 16) | (uint32_t{c.G} << 8) | c.B; }

// The picture of every frame as browsers compose it: the canvas starts as
// background; after frame j, disposal 2 clears its rectangle to background,
// 3 and 4 put back what was there before it, every other value keeps it.
std::vector<std::vector<uint32_t>> Compose(const TAnimation& a) {
    std::vector<uint32_t> canvas(static_cast<size_t>(a.Width) * a.Height, Background);
    std::vector<std::vector<uint32_t>> pictures;
    for (size_t f = 0; f < a.Frames.size(); ++f) {
        const TFrameSpec& frame = a.Frames[f];
        const auto& table = frame.Local.empty() ? a.Global : frame.Local;
        const auto indices = Indices(frame, static_cast<int>(f), table.size());
        const auto before = canvas;
        auto each = [&](auto&& apply) {
            for (int y = 0; y < frame.Height; ++y)
                for (int x = 0; x < frame.Width; ++x)
                    if (frame.Left + x < a.Width && frame.Top + y < a.Height)
                        apply(static_cast<size_t>(frame.Top + y) * a.Width + frame.Left + x,
                              indices[static_cast<size_t>(y) * frame.Width + x]);
        };
        each([&](size_t at, uint8_t index) {
            if (index != frame.Transparent)
                canvas[at] = Pack(table[index]);
        });
        pictures.push_back(canvas);
        if (frame.Disposal == 2)
            each([&](size_t at, uint8_t) { canvas[at] = Background; });
        else if (frame.Disposal == 3 || frame.Disposal == 4)
            canvas = before;
    }
    return pictures;
}

struct TRun {
    DWORD ExitCode = 0;
    std::string Output;
};

// Runs a tool of the build (its path on the build host) with the arguments;
// its output and errors together.
TRun RunTool(const char* hostPath, const std::wstring& arguments, const TTempFolder& folder) {
    // A new file each run: the console host of the last run may still hold the previous one.
    static int runs = 0;
    const auto outputFile = folder.Path() / (L"output-" + std::to_wstring(++runs) + L".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    TRun run;
    {
        TScopedHandle output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        std::wstring commandLine = L"\"" + BuildFile(hostPath).wstring() + L"\" " + arguments;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &process)) {
            ADD_FAILURE() << hostPath << " did not start: " << GetLastError();
            return run;
        }
        TScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
            ADD_FAILURE() << hostPath << " did not end";
        }
        GetExitCodeProcess(process.hProcess, &run.ExitCode);
    }
    run.Output = ReadFileBytes(outputFile);
    return run;
}

TRun RunGifPlay(const std::wstring& arguments, const TTempFolder& folder) {
    return RunTool(KANTREL_GIFPLAY_EXE, arguments, folder);
}

std::wstring Quoted(const std::filesystem::path& path) { return L"\"" + path.wstring() + L"\""; }

// RGB of a PNG, packed as 0xRRGGBB; empty when it cannot be read.
std::vector<uint32_t> ReadPng(const std::filesystem::path& file, int& width, int& height) {
    const std::string bytes = ReadFileBytes(file);
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                            static_cast<int>(bytes.size()), &width, &height, &channels, 3);
    std::vector<uint32_t> picture;
    if (pixels) {
        for (int i = 0; i < width * height; ++i)
            picture.push_back((uint32_t{pixels[i * 3]} << 16) | (uint32_t{pixels[i * 3 + 1]} << 8) | pixels[i * 3 + 2]);
        stbi_image_free(pixels);
    }
    return picture;
}

std::string FirstDifference(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want, int width) {
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "first at (%d, %d): 0x%06X, expected 0x%06X", static_cast<int>(i % width),
                          static_cast<int>(i / width), got[i], want[i]);
            return text;
        }
    return {};
}

}  // namespace

TEST(GifPlay, DumpedFramesMatchTheComposedModelOnBothPaths) {
    const std::vector<Rgb> global = Table(8, 0);
    const TAnimation keyed{
        "keyed",
        12,
        10,
        global,
        {
            {0, 0, 12, 10, 1, GlobalKey, {}},  // key colour of frame 0: the background
            {2, 1, 5, 4, 0, GlobalKey, {}},
            {6, 3, 8, 5, 2, 2, Table(4, 1)},   // partly outside; cleared afterwards
            {1, 5, 4, 4, 3, -1, {}},           // restored afterwards
            {3, 2, 6, 6, 4, 0, Table(8, 2)},   // 4: restored like 3
            {9, 7, 5, 5, 6, GlobalKey, {}},    // outside on two sides; 6 keeps
            {4, 4, 3, 3, 7, -1, Table(4, 3)},  // 7 keeps
            {0, 3, 12, 4, 5, -1, {}},          // 5 keeps
            {0, 0, 12, 10, 1, -1, {}},         // full-screen, opaque: a rebuild starts here
            {5, 0, 4, 10, 3, GlobalKey, {}},
            {0, 0, 12, 10, 2, GlobalKey, {}},  // full-screen, cleared: a rebuild skips it
            {2, 2, 5, 5, 1, -1, {}},
            {0, 8, 12, 4, 0, 1, Table(2, 4)},
        }};
    // No key colour anywhere: the background is the system's window colour, opaque.
    const TAnimation opaque{"opaque",
                            9,
                            7,
                            Table(4, 5),
                            {
                                {1, 1, 4, 3, 2, -1, {}},
                                {3, 2, 5, 5, 3, -1, Table(4, 6)},
                                {0, 4, 9, 3, 1, -1, {}},
                                {6, 0, 4, 4, 0, -1, {}},
                            }};
    const TAnimation restored{"frames covering the screen restored afterwards (3, and 4 read as 3) hide nothing",
                              12,
                              10,
                              global,
                              {
                                  {0, 0, 12, 10, 1, GlobalKey, {}},
                                  {2, 1, 5, 4, 1, GlobalKey, {}},
                                  {0, 0, 12, 10, 3, -1, {}},
                                  {6, 3, 4, 4, 0, GlobalKey, {}},
                                  {0, 0, 12, 10, 4, -1, {}},
                                  {1, 6, 5, 3, 1, GlobalKey, {}},
                              }};
    const TAnimation offset{"a frame of the screen's size at an offset",
                            12,
                            10,
                            global,
                            {
                                {0, 0, 12, 10, 1, GlobalKey, {}},
                                {0, 0, 5, 10, 1, GlobalKey, {}},
                                {2, 1, 12, 10, 1, -1, {}},  // the strip left and above it stays
                                {6, 2, 3, 3, 0, GlobalKey, {}},
                            }};
    const TAnimation keyDrawn{"later frames draw the first frame's key colour opaquely",
                              12,
                              10,
                              global,
                              {
                                  {0, 0, 12, 10, 1, GlobalKey, {}},
                                  {2, 1, 7, 5, 2, 0, {}},  // keyed on 0: draws index 7
                                  {4, 3, 8, 5, 1, 1, {}},
                              }};
    const std::vector<Rgb> blackWhite{{0, 0, 0}, {255, 255, 255}}, whiteBlack{{255, 255, 255}, {0, 0, 0}};
    const TAnimation twoColour{"black and white, keyed on black and on white, global and local tables",
                               12,
                               10,
                               blackWhite,
                               {
                                   {0, 0, 12, 10, 1, 0, {}},
                                   {1, 1, 6, 5, 1, 1, {}},
                                   {4, 2, 6, 6, 0, 0, whiteBlack},
                                   {0, 4, 7, 4, 1, 1, whiteBlack},
                               }};
    const TAnimation larger{"frames larger than the screen, and one wholly outside it",
                            12,
                            10,
                            global,
                            {
                                {0, 0, 12, 10, 1, GlobalKey, {}},
                                {0, 0, 30, 25, 1, GlobalKey, {}},   // past two edges
                                {4, 3, 20, 9, 2, -1, Table(8, 5)},  // opaque, cleared afterwards
                                {13, 11, 5, 4, 1, -1, {}},          // wholly outside
                                {2, 0, 15, 22, 3, 1, Table(4, 6)},  // restored afterwards
                                {0, 0, 40, 30, 0, GlobalKey, {}},
                            }};
    const uint32_t windowColor = 0x123456;  // passed as --color 0x123456
    const COLORREF system = GetSysColor(COLOR_WINDOW);
    const uint32_t systemWindow = (uint32_t{GetRValue(system)} << 16) | (GetGValue(system) << 8) | GetBValue(system);

    for (const TAnimation* animation : {&keyed, &opaque, &restored, &offset, &keyDrawn, &twoColour, &larger}) {
        SCOPED_TRACE(animation->Name);
        TTempFolder folder(L"gifplay");
        const auto gifFile = folder.Path() / L"animation.gif";
        const auto gif = Encode(*animation);
        WriteFileBytes(gifFile, std::string(gif.begin(), gif.end()));
        const auto dumpDir = folder.Path() / L"dump";
        const TRun run = RunGifPlay(L"--dump " + Quoted(dumpDir) + L" --color 0x123456 " + Quoted(gifFile), folder);
        ASSERT_EQ(run.ExitCode, 0u) << run.Output;
        const int count = static_cast<int>(animation->Frames.size());
        EXPECT_EQ(run.Output.substr(0, run.Output.find_first_of("\r\n")), std::to_string(count));

        // Keyed on the first frame's key, the picture shows the window where no frame drew.
        const uint32_t background = animation->Frames[0].Transparent >= 0 ? windowColor : systemWindow;
        const auto model = Compose(*animation);
        for (int n = 0; n < count; ++n) {
            char number[8];
            std::snprintf(number, sizeof number, "%03d", n);
            std::vector<uint32_t> want = model[static_cast<size_t>(n)];
            std::replace(want.begin(), want.end(), Background, background);
            for (const char* pass : {"play", "jump"}) {
                int width = 0, height = 0;
                const auto got = ReadPng(dumpDir / (std::string(pass) + "-" + number + ".png"), width, height);
                ASSERT_EQ(width, animation->Width) << pass << " " << n;
                ASSERT_EQ(height, animation->Height) << pass << " " << n;
                EXPECT_TRUE(got == want) << pass << " frame " << n << ": " << FirstDifference(got, want, width);
            }
        }
    }
}

// A 64 x 64 screen that shows the corner of a 12000 x 12000 frame, of 2 and
// of 256 colours: i686 saved the first black (from a bitmap GDI could not
// make) and failed for memory on the second.
TEST(GifPlay, AFrameFarLargerThanTheScreenIsDumpedRight) {
    using namespace gifwriter;
    for (const int colours : {2, 256}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        TTempFolder folder(L"gifplay-huge");
        const auto gif = HugeFrame(colours);
        WriteFileBytes(folder.Path() / L"huge.gif", std::string(gif.begin(), gif.end()));
        const auto dumpDir = folder.Path() / L"dump";
        const TRun run = RunGifPlay(L"--dump " + Quoted(dumpDir) + L" --color 0x123456 " +
                                        Quoted(folder.Path() / L"huge.gif"),
                                    folder);
        ASSERT_EQ(run.ExitCode, 0u) << run.Output;
        std::vector<uint32_t> want;
        for (int y = 0; y < HugeFrameScreen; ++y)
            for (int x = 0; x < HugeFrameScreen; ++x) {
                const int index = HugeFrameIndex(x, y, colours);
                want.push_back(index == 0 ? 0x123456 : Pack(HugeFrameColor(index)));
            }
        for (const char* file : {"play-000.png", "jump-000.png"}) {
            int width = 0, height = 0;
            const auto got = ReadPng(dumpDir / file, width, height);
            ASSERT_EQ(width, HugeFrameScreen) << file;
            ASSERT_EQ(height, HugeFrameScreen) << file;
            EXPECT_TRUE(got == want) << file << ": " << FirstDifference(got, want, width);
        }
    }
}

TEST(GifPlay, ExitCodes) {
    TTempFolder folder(L"gifplay");
    const auto dumpDir = Quoted(folder.Path() / L"dump");
    const struct {
        std::wstring Arguments;
        DWORD ExitCode;
        const char* Output;
    } cases[] = {
        {L"", 2, "usage:"},
        {L"--dump " + dumpDir + L" --stretch x.gif", 2, "usage:"},
        {L"--dump " + dumpDir + L" --color 123456 x.gif", 2, "usage:"},
        {L"--bogus x.gif", 2, "usage:"},
        {L"--dump " + dumpDir + L" " + Quoted(folder.Path() / L"missing.gif"), 1, "EFOpenError: "},
    };
    for (const auto& c : cases) {
        const TRun run = RunGifPlay(c.Arguments, folder);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << WideToUtf8(c.Arguments);
        EXPECT_NE(run.Output.find(c.Output), std::string::npos) << WideToUtf8(c.Arguments) << ": " << run.Output;
    }
    // A stream that is not a GIF: the codec's error, by class and message.
    const auto badGif = gifwriter::GifWriter().Header("99a").Screen(4, 4, Table(2, 0)).Trailer().Finish();
    WriteFileBytes(folder.Path() / L"bad.gif", std::string(badGif.begin(), badGif.end()));
    const TRun bad = RunGifPlay(L"--dump " + dumpDir + L" " + Quoted(folder.Path() / L"bad.gif"), folder);
    EXPECT_EQ(bad.ExitCode, 1u) << bad.Output;
    EXPECT_EQ(bad.Output.rfind("EInvalidGraphicOperation: ", 0), 0u) << bad.Output;

    // A frame that loads but cannot be drawn (no colour table of its own and
    // no global one): the dump ends with the paint's error, waits for no one
    // to close a message box, and saves no picture of the undrawn frame.
    gifwriter::GifWriter undrawable;
    undrawable.Header().Screen(4, 4);
    for (int frame = 0; frame < 3; ++frame) {
        gifwriter::ImageSpec spec;
        spec.Width = spec.Height = 4;
        spec.Indices.assign(16, 1);
        if (frame != 1)
            spec.LocalTable = Table(2, frame);
        undrawable.Image(spec);
    }
    const auto undrawableGif = undrawable.Trailer().Finish();
    WriteFileBytes(folder.Path() / L"undrawable.gif", std::string(undrawableGif.begin(), undrawableGif.end()));
    const auto undrawnDir = folder.Path() / L"undrawn";
    const TRun undrawn =
        RunGifPlay(L"--dump " + Quoted(undrawnDir) + L" " + Quoted(folder.Path() / L"undrawable.gif"), folder);
    EXPECT_EQ(undrawn.ExitCode, 1u) << undrawn.Output;
    EXPECT_EQ(undrawn.Output.rfind("EInvalidGraphicOperation: ", 0), 0u) << undrawn.Output;
    EXPECT_TRUE(std::filesystem::exists(undrawnDir / L"play-000.png"));
    EXPECT_FALSE(std::filesystem::exists(undrawnDir / L"play-001.png"));
}

// Sizes that a few bytes declare fail with the limit's message before the
// memory is taken: the decoded frames' budget (with Windows' copy of each
// frame counted) and the limit of the pictures sized by the logical screen.
TEST(GifTools, DeclaredSizesPastTheLimitsFailWithTheLimitsMessage) {
    TTempFolder folder(L"giftools");
    const auto frames = gifwriter::SeventyHugeFrames(), screen = gifwriter::HugeScreen();
    WriteFileBytes(folder.Path() / L"frames.gif", std::string(frames.begin(), frames.end()));
    WriteFileBytes(folder.Path() / L"screen.gif", std::string(screen.begin(), screen.end()));
    ASSERT_EQ(screen.size(), 43u);

    const TRun info = RunTool(KANTREL_GIFDUMP_EXE, L"info " + Quoted(folder.Path() / L"frames.gif"), folder);
    EXPECT_EQ(info.ExitCode, 1u) << info.Output;
    EXPECT_EQ(info.Output.rfind("EOutOfMemory: Not enough memory for a GIF frame of 65535 x 4000 pixels: the decoded "
                                "frames of one image are limited to 1 GiB",
                                0),
              0u)
        << info.Output;

    const TRun play = RunGifPlay(Quoted(folder.Path() / L"screen.gif"), folder);
    EXPECT_EQ(play.ExitCode, 1u) << play.Output;
    EXPECT_EQ(play.Output.rfind("EOutOfMemory: Not enough memory for a picture of 18900 x 18900 pixels: an animated "
                                "image's pictures are limited to 128 MiB",
                                0),
              0u)
        << play.Output;
}

// A number gifplay-close cannot read is a usage error: read as 0, a
// misspelt --runs would run nothing and report success.
TEST(GifPlayClose, RefusesNumbersItCannotRead) {
    TTempFolder folder(L"gifplay-close-usage");
    for (const wchar_t* arguments : {L"--runs abc viewer.exe", L"--runs 0 viewer.exe", L"--limit 5s viewer.exe",
                                     L"--from -1 viewer.exe", L"--seed 99999999999 viewer.exe"}) {
        const TRun run = RunTool(KANTREL_GIFPLAY_CLOSE_EXE, arguments, folder);
        EXPECT_EQ(run.ExitCode, 2u) << WideToUtf8(arguments) << ": " << run.Output;
        EXPECT_NE(run.Output.find("usage:"), std::string::npos) << WideToUtf8(arguments) << ": " << run.Output;
    }
}

// The asynchronous viewer (ticks painted on the timer's thread) closed with
// Alt+F4 at random moments of its play, by gifplay-close as the README's
// script runs it, with fewer and earlier closes: every run must end within
// 2 s of its close, with exit status 0.
TEST(GifPlay, AsyncViewerClosedAtRandomMomentsEndsAtOnce) {
    // Large keyed frames, so that a tick spends its time painting: the
    // moment a close meets most often.
    TAnimation animation{"close", 480, 360, Table(8, 0), {}};
    for (int f = 0; f < 12; ++f)
        animation.Frames.push_back(TFrameSpec{0, 0, 480, 360, f % 3, GlobalKey, {}});
    TTempFolder folder(L"gifplay-close");
    const auto gifFile = folder.Path() / L"animation.gif";
    const auto gif = Encode(animation);
    WriteFileBytes(gifFile, std::string(gif.begin(), gif.end()));
    const TRun run = RunTool(KANTREL_GIFPLAY_CLOSE_EXE,
                             L"--runs 6 --from 200 --to 1200 --limit 2000 " + Quoted(BuildFile(KANTREL_GIFPLAY_EXE)) +
                                 L" --async " + Quoted(gifFile),
                             folder);
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
}
