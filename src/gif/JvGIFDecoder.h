#pragma once
// The LZW raster decoder: one frame's encoded raster (minimum code size, then
// data sub-blocks) into colour-table indices, written straight into the pixel
// rows of a device-independent bitmap (bottom-up, rows padded to 4 bytes).

#include "rtl/Graphic.h"
#include "rtl/Streams.h"

#include <cstdint>
#include <functional>
#include <string>

// Returned by NextCode once the raster data cannot fill another code.
inline constexpr uint32_t NoMoreCodes = 0xFFFF;

// Where the decoded indices go: Stride * RowCount zero-filled bytes.
struct TRasterDestination {
    int32_t PixelsPerRow = 0;
    int32_t RowCount = 0;
    int32_t PixelBits = 8; // 1, 4 or 8
    uint8_t* Pixels = nullptr;
};

// Bytes per stored row: ((width * bits + 31) div 32) * 4, without overflow.
uint64_t RasterStride(uint64_t pixelsPerRow, uint64_t pixelBits);

// Progress reports: stage, percent, message.
using TDecodeProgress = std::function<void(TProgressStage stage, uint8_t percent, const std::string& message)>;

// Reads codes least significant bit first across sub-block boundaries,
// holding up to 64 bits; sub-blocks are read in place from the raster stream.
struct CodeReaderState {
    const uint8_t* Next = nullptr; // next unread byte of the raster stream
    const uint8_t* End = nullptr;
    uint32_t BlockLeft = 0; // data bytes left in the current sub-block
    uint64_t Window = 0;    // bits read but not yet taken, the next one in bit 0
    uint32_t BitsHeld = 0;
    uint64_t BytesTaken = 0; // data bytes moved into Window so far
    uint32_t CodeWidth = 3;
    uint32_t CodeMask = 7;
};

// The next code of CodeWidth bits, or NoMoreCodes when the data holds fewer bits.
uint32_t NextCode(CodeReaderState& state);

// The place of the next pixel: image row Row (top-down), column Column; the
// stored row that receives it starts at RowStart.
struct RasterCursor {
    int32_t PixelsPerRow = 0;
    int32_t RowCount = 0;
    int32_t PixelBits = 8;
    size_t Stride = 0;
    uint8_t* Pixels = nullptr;
    bool Interlaced = false;
    int32_t Column = 0;
    int32_t Row = 0;
    int32_t Pass = 0;
    uint8_t* RowStart = nullptr; // null once Row is past the last row
};

// Stores one index at the cursor and advances it; discarded once the frame is complete.
void EmitPixel(uint32_t value, RasterCursor& cursor);
// The image row that follows row in the four-pass interlaced order; moves
// pass on when a pass is used up.
int32_t NextInterlacedRow(int32_t row, int32_t rowCount, int32_t& pass);

// Decodes the raster stream from its position into destination. corrupt comes
// back true when damage was tolerated (acceptCorrupt); otherwise damage
// raises. progress may be null: then nothing is reported and nothing is spent on it.
// Safe to call from several threads at once.
void DecodeFrameRaster(TMemoryStream& raster, const TRasterDestination& destination, bool interlaced,
                       bool acceptCorrupt, int pixelDepth, bool& corrupt, const TDecodeProgress* progress);
