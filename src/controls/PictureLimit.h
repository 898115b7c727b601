#pragma once
// The size limit of the controls' own off-screen pictures: a paint's buffer
// (the client area) and the GIF animator's composed picture (the logical
// screen). A 43-byte GIF can declare a logical screen of 65535 x 65535.

#include <cstdint>
#include <functional>

// What one such picture may hold, its pixels and their GDI copy together.
inline constexpr uint64_t MaxPictureBytes = uint64_t(128) << 20;

// Raises EOutOfMemory, naming the limit, when a picture of width x height
// would pass it; allocates nothing.
void CheckPictureSize(int width, int height);

// One picture too large is reported once, not at every paint: the first
// failing check raises the error, later ones return false, until a check
// passes again. Used by one painting thread at a time.
class TPictureLimit {
public:
    bool Fits(int width, int height);
    // Runs paint, which makes a picture and draws it. Memory it could not
    // have (a frame past the budget, a draw whose scratch GDI could not
    // make) is reported the same way: the first EOutOfMemory is raised,
    // later ones are dropped (nothing was drawn of what failed) until a
    // paint passes again.
    void Paint(const std::function<void()>& paint);

private:
    bool Reported_ = false;
    bool PaintReported_ = false;
};
