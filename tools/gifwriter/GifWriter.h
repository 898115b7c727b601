#pragma once
// A small GIF encoder for tests, generators and fuzz seeds (never linked into
// the program). It writes a stream block by block, so a test can build valid
// files as well as every kind of damaged one.
//
// When the environment variable KANTREL_GIF_CORPUS_DIR names a folder, every
// stream Finish() returns is also saved there (file name: hash of the bytes),
// so that the fuzz corpus holds every GIF the tests make.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace gifwriter {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t R = 0, G = 0, B = 0;
};

// Options of the LZW encoder.
struct LzwOptions {
    // Emit a clear code before the pixel at each of these positions
    // (positions in encoding order, i.e. after interlace reordering).
    std::vector<size_t> ClearBefore;
    // Write these raw codes (in the current code width) before the pixel at
    // the given position; size_t(-1) means after the last pixel.
    std::multimap<size_t, uint16_t> InjectCodes;
    bool LeadingClear = true;  // the customary clear code at the start
    bool EndCode = true;       // the end-of-information code
    // When the table is full keep coding at 12 bits without a clear code
    // (a "deferred clear"); otherwise a clear is emitted once code 4095 is taken.
    bool DeferredClear = false;
};

// LZW-compresses indices (each below 2^minCodeSize) into packed code bytes,
// least significant bit first; minCodeSize 1..11. Throws std::invalid_argument
// on an index that does not fit.
Bytes LzwEncode(const uint8_t* indices, size_t count, int minCodeSize,
                const LzwOptions& options = {});
inline Bytes LzwEncode(const Bytes& indices, int minCodeSize, const LzwOptions& options = {}) {
    return LzwEncode(indices.data(), indices.size(), minCodeSize, options);
}

// Splits data into sub-blocks of at most chunk bytes (1..255), each with its
// length byte, plus the zero terminator when terminate is true.
Bytes SubBlocks(const Bytes& data, size_t chunk = 255, bool terminate = true);

// Hand-made codes, for rasters no encoder would write.
// Codes packed least significant bit first, each at the width given with it.
Bytes PackWidths(const std::vector<std::pair<uint32_t, int>>& codes);
// Codes packed at the widths a decoder reads them: minCodeSize + 1 after a
// clear code, one bit more once the next free code reaches 2^width (at most
// 12). The first code (unless a clear code) and the first code after clear
// codes add no entry.
Bytes PackCodes(int minCodeSize, const std::vector<uint32_t>& codes);
// Every pixel as its own root code: clear, the pixels, end.
std::vector<uint32_t> RootCodes(int minCodeSize, const Bytes& pixels);
// A raster as an image block carries it: the code size byte, then the packed
// codes in sub-blocks of at most chunk bytes, then the terminator.
Bytes RasterBlock(int minCodeSize, const Bytes& packed, size_t chunk = 255);

// Rows of a width x height raster in the order an interlaced image stores them.
std::vector<int> InterlacedRowOrder(int height);

// Smallest table size field s (0..7, table of 2^(s+1) entries) holding count entries.
int TableSizeField(size_t count);

struct ImageSpec {
    uint16_t Left = 0, Top = 0;
    uint16_t Width = 0, Height = 0;
    // Width * Height indices, row by row in display order.
    Bytes Indices;
    // Local colour table; empty means none. Padded with black to a power of two
    // (or to 2^(LocalSizeField+1) when LocalSizeField >= 0).
    std::vector<Rgb> LocalTable;
    int LocalSizeField = -1;
    bool Interlaced = false;
    bool Sorted = false;
    // Byte stored as the LZW minimum code size; 0 picks max(2, bits of the
    // largest index / local table). The encoder uses EncodeCodeSize when
    // non-zero (for files whose stored byte lies).
    int MinCodeSize = 0;
    int EncodeCodeSize = 0;
    LzwOptions Lzw;
    size_t SubBlockSize = 255;
    // Damage: keep only the first TruncateData bytes of the LZW data;
    // leave out the zero terminator; flip bits of data byte i with xor value.
    size_t TruncateData = SIZE_MAX;
    bool Terminator = true;
    std::map<size_t, uint8_t> XorData;
    // Replaces the LZW data entirely when set (still split into sub-blocks).
    const Bytes* RawData = nullptr;
};

class GifWriter {
public:
    GifWriter() = default;

    // "GIF" + version (any three characters, for bad-version cases).
    GifWriter& Header(const std::string& version = "89a");
    // Logical screen descriptor and, when globalTable is not empty, the
    // global table (padded to a power of two, or to 2^(sizeField+1) entries).
    GifWriter& Screen(uint16_t width, uint16_t height, const std::vector<Rgb>& globalTable = {},
                      uint8_t background = 0, int colorResolution = 8, uint8_t aspect = 0,
                      int sizeField = -1, bool sorted = false);
    // Screen descriptor with the packed byte given as is (no table written).
    GifWriter& ScreenRaw(uint16_t width, uint16_t height, uint8_t packed, uint8_t background,
                         uint8_t aspect = 0);
    GifWriter& ColorTable(const std::vector<Rgb>& table, size_t entries);

    // Graphic control extension; transparentIndex < 0 leaves the flag clear.
    GifWriter& GraphicControl(int disposal, uint16_t delay, int transparentIndex = -1,
                              bool userInput = false);
    // Comment extension, the text split into sub-blocks of at most chunk bytes.
    GifWriter& Comment(const std::string& text, size_t chunk = 255);
    // Plain text extension (grid, cell and colours are written as given).
    GifWriter& PlainText(const std::string& text, uint16_t gridLeft = 0, uint16_t gridTop = 0,
                         uint16_t gridWidth = 8, uint16_t gridHeight = 8, uint8_t cellWidth = 8,
                         uint8_t cellHeight = 8, uint8_t foreground = 1, uint8_t background = 0);
    // Application extension: identifier and code (11 bytes, padded/cut), sub-blocks as given.
    GifWriter& Application(const std::string& identifier, const std::vector<Bytes>& subBlocks,
                           uint8_t blockSize = 11);
    // NETSCAPE2.0 looping block with the given count.
    GifWriter& Loop(uint16_t count);
    // Extension with any label, its fixed part and sub-blocks written verbatim.
    GifWriter& Extension(uint8_t label, const Bytes& fixedPart, const std::vector<Bytes>& subBlocks);

    // Image descriptor, local table, LZW size byte and data sub-blocks.
    GifWriter& Image(const ImageSpec& spec);
    GifWriter& Trailer();

    // Raw control for odd cases.
    // An image descriptor alone: separator, position, size and packed byte.
    GifWriter& ImageDescriptor(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                               uint8_t packed = 0);
    GifWriter& Byte(uint8_t b);
    GifWriter& Raw(const Bytes& bytes);
    GifWriter& U16(uint16_t v);
    // One sub-block with the given length byte, whatever the data's size.
    GifWriter& SubBlock(uint8_t lengthByte, const Bytes& data);

    const Bytes& Data() const { return Out_; }
    // The stream (cut to truncateAt bytes when given); saved to the corpus folder.
    Bytes Finish(size_t truncateAt = SIZE_MAX) const;

private:
    Bytes Out_;
};

// The stored form: 32-bit little-endian length, then the stream.
Bytes LengthPrefixed(const Bytes& stream);
Bytes LengthPrefixed(const Bytes& stream, int32_t declaredLength);

// Saves stream to the corpus folder when KANTREL_GIF_CORPUS_DIR is set.
void SaveToCorpus(const Bytes& stream);

}  // namespace gifwriter
