#pragma once
// The LZW raster decoder: one frame's encoded raster (minimum code size, then
// data sub-blocks) into colour-table indices, written into the pixel rows of
// a device-independent bitmap (bottom-up, rows padded to 4 bytes).

#include "rtl/Graphic.h"
#include "rtl/Streams.h"

#include <cstdint>
#include <functional>
#include <string>

// Where the decoded indices go: Stride * RowCount bytes, every one of which
// decoding writes (0 where no pixel is, and in pixels it does not reach).
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

// The image row that the frame sends as its index-th row when interlaced.
int32_t InterlacedRowAt(int32_t index, int32_t rowCount);
// Writes the frame's stored rows into block from pixels, a byte per pixel in
// the order the rows were sent (written of them, the rest unreached).
void StoreRows(const uint8_t* pixels, uint64_t written, uint8_t* block, int32_t width, int32_t height, int32_t bits,
               bool interlaced);
// Turns a pixel block that holds the frame's rows in the order they were
// sent, top row first, unpadded and packed from bit 0 (written pixels of
// them, the rest unreached) into stored rows: bottom-up, padded to 4 bytes,
// 0 in every bit that is no pixel and in every pixel not reached.
void PlaceDecodedRows(uint8_t* block, int32_t width, int32_t height, int32_t bits, bool interlaced,
                      uint64_t written);

// Decodes the raster stream from its position into destination. corrupt comes
// back true when damage was tolerated (acceptCorrupt); otherwise damage
// raises. progress may be null: then nothing is reported and nothing is spent on it.
// Safe to call from several threads at once.
void DecodeFrameRaster(TMemoryStream& raster, const TRasterDestination& destination, bool interlaced,
                       bool acceptCorrupt, int pixelDepth, bool& corrupt, const TDecodeProgress* progress);
