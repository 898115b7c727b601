#pragma once
// Reads a picture of the splash window: the animation strip's twelve squares
// by their exact colours, and the grey around them.

#include <array>
#include <string>

#include "ScreenPicture.h"

// The strip's place in the splash window's client area (413 x 129).
constexpr int SplashStripTop = 49;
constexpr int SplashStripHeight = 50;
constexpr int SplashSquareCount = 12;

enum class TSquareState { Idle, Trail, Runner, Other };

struct TStripReading {
    std::array<TSquareState, SplashSquareCount> Squares{};
    // The square (0 is the leftmost) of the one runner and of the one trail;
    // -1 when there is none or more than one.
    int Runner = -1;
    int Trail = -1;
    // The first pixel outside the squares that is not the window's grey;
    // empty when there is none.
    std::string StrayPixel;

    // All twelve squares shown, idle but for one runner with its trail on the
    // square before it (the last square before the first), on grey.
    bool Playing() const;
    // One character per square ('.' idle, 't' trail, 'R' runner, '?' other),
    // then the stray pixel if any.
    std::string Describe() const;
    // Whether this reading can be a picture taken while the screen changed
    // from the frame read as `before` to the one read as `after`: on grey,
    // each square as in one of them, or caught halfway where they differ.
    bool CaughtBetween(const TStripReading& before, const TStripReading& after) const;
};

// Reads the strip of a picture of the splash window's client area.
TStripReading ReadSplashStrip(const TScreenPicture& splashClient);
