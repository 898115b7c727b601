#include "SplashStrip.h"

#include <algorithm>

namespace {

constexpr COLORREF Grey = RGB(214, 214, 214);
constexpr COLORREF IdleColour = RGB(175, 196, 219);
constexpr COLORREF TrailColour = RGB(120, 152, 186);
constexpr COLORREF RunnerColour = RGB(25, 59, 101);

// The 400 x 50 picture centred in the 413 wide strip lands at column 6; its
// squares are 21 x 21 at picture rows 15 to 35, columns 47 + 26 k.
constexpr int SquareSize = 21;
constexpr int SquareTop = 15;
constexpr int FirstSquareLeft = 6 + 47;
constexpr int SquarePitch = 26;

int SquareAt(int x, int y) {
    if (y < SquareTop || y >= SquareTop + SquareSize || x < FirstSquareLeft)
        return -1;
    const int k = (x - FirstSquareLeft) / SquarePitch;
    const bool inside = (x - FirstSquareLeft) % SquarePitch < SquareSize;
    return inside && k < SplashSquareCount ? k : -1;
}

TSquareState StateOf(COLORREF colour) {
    switch (colour) {
        case IdleColour: return TSquareState::Idle;
        case TrailColour: return TSquareState::Trail;
        case RunnerColour: return TSquareState::Runner;
        default: return TSquareState::Other;
    }
}

std::string Rgb(COLORREF c) {
    return "RGB(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
           std::to_string(GetBValue(c)) + ")";
}

}  // namespace

bool TStripReading::Playing() const {
    if (!StrayPixel.empty() || Runner < 0 || Trail != (Runner + SplashSquareCount - 1) % SplashSquareCount)
        return false;
    for (int k = 0; k < SplashSquareCount; ++k)
        if (k != Runner && k != Trail && Squares[k] != TSquareState::Idle)
            return false;
    return true;
}

std::string TStripReading::Describe() const {
    std::string text;
    for (TSquareState s : Squares)
        text += ".tR?"[static_cast<int>(s)];
    if (!StrayPixel.empty())
        text += " stray " + StrayPixel;
    return text;
}

bool TStripReading::CaughtBetween(const TStripReading& before, const TStripReading& after) const {
    if (!StrayPixel.empty())
        return false;
    for (int k = 0; k < SplashSquareCount; ++k) {
        const TSquareState s = Squares[k];
        const bool changed = before.Squares[k] != after.Squares[k];
        if (s != before.Squares[k] && s != after.Squares[k] && !(changed && s == TSquareState::Other))
            return false;
    }
    return true;
}

TStripReading ReadSplashStrip(const TScreenPicture& splashClient) {
    TStripReading reading;
    if (splashClient.Height < SplashStripTop + SplashStripHeight || splashClient.Width < 413) {
        reading.Squares.fill(TSquareState::Other);
        reading.StrayPixel = "(no picture of the strip)";
        return reading;
    }
    // A square's state holds only when all its pixels have the one colour.
    std::array<bool, SplashSquareCount> seen{};
    for (int y = 0; y < SplashStripHeight; ++y) {
        for (int x = 0; x < splashClient.Width; ++x) {
            const COLORREF colour = splashClient.Pixel(x, SplashStripTop + y);
            const int k = SquareAt(x, y);
            if (k < 0) {
                if (colour != Grey && reading.StrayPixel.empty())
                    reading.StrayPixel = "column " + std::to_string(x) + ", row " + std::to_string(y) + ": " + Rgb(colour);
                continue;
            }
            const TSquareState state = StateOf(colour);
            if (!seen[k])
                reading.Squares[k] = state;
            else if (reading.Squares[k] != state)
                reading.Squares[k] = TSquareState::Other;
            seen[k] = true;
        }
    }
    // -2 marks a second one, reported as none.
    const auto only = [&](TSquareState state) {
        int found = -1;
        for (int k = 0; k < SplashSquareCount; ++k)
            if (reading.Squares[k] == state)
                found = found == -1 ? k : -2;
        return std::max(found, -1);
    };
    reading.Runner = only(TSquareState::Runner);
    reading.Trail = only(TSquareState::Trail);
    return reading;
}
