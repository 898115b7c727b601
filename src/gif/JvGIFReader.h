#pragma once
// The GIF stream reader: a GIF stream ("87a" or "89a") into the image model,
// each frame's raster kept LZW-encoded until it is needed.

#include "gif/JvGIF.h"

#include <cstdint>
#include <memory>
#include <utility>

// Resets image and reads length bytes of source as one GIF stream; with
// buildFirstBitmap, frame 0 is decoded before the load counts as done.
// Fails by raising; what was read before the failure stays.
void ParseGifStream(TJvGIFImage& image, int32_t length, TStream& source, bool buildFirstBitmap);

// Colour count → bits: 2 → 1, 4 → 2, ... 256 → 8; anything else raises
// "Wrong number of colors; must be a power of 2".
int BitsForColorCount(int count);
// True when another entry below colors.Count has the colour of entry index.
bool ColorRepeated(const TGIFColors& colors, int index);
// Moves the blue of entry index down (then up) until no other entry below
// colors.Count has its colour, or every blue was tried.
void MakeColorUnique(TGIFColors& colors, int index);

// The steps of one load, over the bytes of the stream held in memory.
class TGIFReader {
public:
    TGIFReader(TJvGIFImage& image, const uint8_t* data, size_t size) : Image(image), Data(data), Size(size) {}

    void CheckSignature();
    void ParseScreenHeader();
    void ParseGlobalTable();
    // The next introducer, skipping zero bytes; 0 when the data ended.
    uint8_t NextSeparator();
    // Reads a run of extensions starting at ch (hex 21); keeps graphic control
    // and comment extensions for the next frame, applies loop blocks to the image.
    std::optional<TExtensionList> CollectExtensions(uint8_t& ch);
    std::unique_ptr<TExtension> ParseExtension();
    std::unique_ptr<TStringList> ReadSubBlocks();
    static bool IsLoopBlock(const TExtension& extension);
    void ParseFrame(TJvGIFFrame& frame);
    // Gives the frame a colour table in which its key colour (entry index
    // of its table) names that entry alone.
    void MakeKeyColorUnique(TGIFItem& item, int index);
    void CopyImageBlock(TJvGIFFrame& frame);
    // The block sequence after the global colour table.
    void ReadBlocks();

    bool AtEnd() const { return Position >= Size; }
    size_t Remaining() const { return Size - Position; }

private:
    // Reads up to count bytes into buffer; returns how many were there.
    size_t ReadSome(uint8_t* buffer, size_t count);
    // Reads count bytes or raises the stream's read error.
    void ReadExact(uint8_t* buffer, size_t count);

    TJvGIFImage& Image;
    const uint8_t* Data;
    size_t Size;
    size_t Position = 0;
    uint8_t BackgroundIndex = 0;
    // The tables of frames keyed on entries of the global table, by key
    // entry: the global table, or a copy where the key colour repeats.
    std::pair<int, std::shared_ptr<TGIFColorTable>> KeyedGlobalTables[8];
    int KeyedCount = 0;
    bool HasGlobalTable = false;
};
