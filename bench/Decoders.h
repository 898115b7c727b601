#pragma once
// The decoders the benchmark runs. Ours come first; the first one is the
// reference of the ratios.

#include "Peers.h"

#include <functional>
#include <string>
#include <vector>

struct Decoder {
    const char* name;
    bool ours;
    // Untimed preparation for one file; returns the timed work, which decodes
    // the file once and answers false when decoding failed.
    std::function<std::function<bool()>(const Bytes& file)> prepare;
};

std::vector<Decoder> AllDecoders();

struct VerifyCounts {
    int decodes = 0;        // frame decodes compared with the reference decoder
    int mismatches = 0;     // of them, those that differ
    int giflibSame = 0;     // frames decoded to the same indices as giflib
    int giflibDifferent = 0;
    // One-frame files that the wuffs adapter decodes the same as the
    // reference decoder, differently, or not whole (not compared).
    int wuffsSame = 0;
    int wuffsDifferent = 0;
    int wuffsSkipped = 0;
};

// Decodes every frame of the file with the codec's raster decoder and with
// the step-by-step reference decoder (damage accepted and refused) and
// compares pixels, corrupt flag and error; where giflib decodes the file,
// also compares the indices with giflib's. Prints what differs.
VerifyCounts Verify(const std::string& name, const Bytes& file);

// Heap allocations of our codec on one file, untimed: constructing the image
// and loading it (frame 0's bitmap included), then building every other
// frame's bitmap. False when the file does not load.
struct AllocationCounts {
    int frames = 0;
    uint64_t load = 0;
    uint64_t laterFrames = 0;
};
bool CountAllocations(const Bytes& file, AllocationCounts& counts);
