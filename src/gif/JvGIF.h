#pragma once
// The GIF image model: a multi-frame GIF held in memory. Frames keep their
// raster LZW-encoded and decode it on first use; copies of an image or a frame
// share the encoded data and the header through reference-counted holders.

#include "gif/JvGIFDecoder.h"
#include "rtl/Bitmap.h"
#include "rtl/Graphic.h"
#include "rtl/ObjectList.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Damaged data is decoded as far as possible and the frame marked
// IsCorrupted instead of failing. Process-wide, never changed.
inline constexpr bool AcceptCorruptFrames = true;

inline constexpr const char* SGIFImage = "CompuServe GIF Image";
inline constexpr const char* SChangeGIFSize = "Cannot change the Size of a GIF image";
inline constexpr const char* SGIFVersion = "Unknown GIF version";
inline constexpr const char* SGIFDecodeError = "GIF encoded data is corrupt";
inline constexpr const char* SBadGIFCodeSize = "GIF code size not in range 2 to 9";
inline constexpr const char* SWrongGIFColors = "Wrong number of colors; must be a power of 2";
// Filled with the label in upper-case hexadecimal, at least two digits.
inline constexpr const char* SUnrecognizedGIFExt = "Unrecognized extension block: %.2X";
inline constexpr const char* SGIFWriteUnsupported = "Writing GIF data is not supported";

// A colour table, always copied whole; entries at and beyond Count are zero.
struct TGIFColors {
    int32_t Count = 0;
    uint8_t Entries[256][3] = {}; // red, green, blue
};

// A colour table with the palette that frame bitmaps of its colours take,
// made from it once. Shared by the header and the frames that use it; not
// changed once shared (a frame that needs other colours takes its own table).
struct TGIFColorTable {
    TGIFColors Colors;
    TPalette Palette;
    // Bits per pixel of the bitmaps Palette was made for; 0 before it is made.
    int PaletteBits = 0;
};

// A new table with no colours; its palette's entries are not cleared first
// (they are made with the palette).
inline std::shared_ptr<TGIFColorTable> NewColorTable() {
    return std::make_shared_for_overwrite<TGIFColorTable>();
}

// A colour table entry as a colour value: red + 256 * green + 65536 * blue.
inline TColor TripletToColor(const uint8_t* triple) {
    return RGBToColor(triple[0], triple[1], triple[2]);
}

// The pixel bytes that the decoded frames of one image may hold in all, with
// their GDI copies on Windows. The frame that would pass it fails with
// EOutOfMemory before its bitmap is allocated: a few KB of GIF can declare
// dozens of frames of 65535 x 4000.
inline constexpr uint64_t DefaultPixelBudget = uint64_t(1) << 30;

enum TExtensionKind : uint8_t { ekGraphicControl = 0, ekPlainText = 1, ekApplication = 2, ekComment = 3 };

// One extension block that preceded a frame.
class TExtension : public TPersistent {
public:
    const char* ClassName() const override { return "TExtension"; }
    void Assign(TPersistent* source) override;

    TExtensionKind Kind = ekGraphicControl;
    // The data sub-blocks, one string of 1 to 255 bytes each; may be absent.
    std::unique_ptr<TStringList> SubBlocks;
    // The fixed part as read, from its block-size byte on; zero where nothing was read.
    uint8_t FixedPart[13] = {};
};

using TExtensionList = TObjectList<TExtension>;

// Destroys every extension of the list and then the list (none is fine).
void DisposeExtensionList(std::optional<TExtensionList>& list);
// The last extension of that kind in stream order, or none.
TExtension* LastExtensionOfKind(const TExtensionList* list, TExtensionKind kind);

// The image's header data, shared by images assigned from one another.
class TGIFData : public TSharedImage {
public:
    TStringList CommentLines;
    uint8_t PixelAspect = 0;
    uint8_t ColorBits = 0;
    uint8_t ColorResolution = 0;
    // The global colour table; absent (Count 0) when the stream has none.
    std::shared_ptr<TGIFColorTable> GlobalTable;

    const TGIFColors& GlobalColors() const;
    // Back to the state of a new header.
    void Clear() {
        CommentLines.Clear();
        PixelAspect = ColorBits = ColorResolution = 0;
        GlobalTable.reset();
    }

protected:
    void FreeHandle() override { CommentLines.Clear(); }
};

// A frame's encoded raster and colour table, shared by frames assigned from one another.
class TGIFItem : public TSharedImage {
public:
    // First, beside the reference count: one item per frame.
    uint8_t DescriptorFlags = 0;
    // Bits per pixel of FrameColors, 1..8; 0 without a colour table.
    uint8_t PixelDepth = 0;
    // LZW minimum code size, then the data sub-blocks as the stream carried them.
    std::optional<TMemoryStream> EncodedData;
    TPoint RasterSize;
    // The frame's colour table: its local one, or the global one shared with
    // the header; absent (Count 0) without either.
    std::shared_ptr<TGIFColorTable> ColorTable;

    const TGIFColors& FrameColors() const;

protected:
    void FreeHandle() override {
        if (EncodedData)
            EncodedData->SetSize(0);
    }
};

enum TDisposalMethod : uint8_t { dpUnspecified = 0, dpKeep = 1, dpRestoreBackground = 2, dpRestorePrevious = 3 };

class TJvGIFImage;

class TJvGIFFrame : public TPersistent {
public:
    explicit TJvGIFFrame(TJvGIFImage* owner);
    ~TJvGIFFrame() override;
    TJvGIFFrame(const TJvGIFFrame&) = delete;
    TJvGIFFrame& operator=(const TJvGIFFrame&) = delete;
    const char* ClassName() const override { return "TJvGIFFrame"; }

    void Assign(TPersistent* source) override;

    void ResetFrame();
    // Replaces CachedBitmap with a new, empty bitmap.
    void FreshBitmap();
    // The decoded frame, built from the encoded data when absent or empty;
    // owned by the frame.
    TBitmap* FrameBitmap();
    // Writes the frame as a complete BMP stream, decoding the raster straight
    // into its pixel rows, and positions the stream at 0.
    void BuildBitmapStream(TMemoryStream& target);
    int FrameWidth();
    int FrameHeight();
    // What FrameWidth and FrameHeight give, without building anything: the
    // bitmap's size once it is built, else the raster's (none without data).
    TPoint DeclaredSize();
    // The lines of the frame's last comment extension; with create, the
    // extension and its list are made when missing.
    TStringList* LookupComment(bool create);
    TStringList* FrameComment() { return LookupComment(true); }
    void SetFrameComment(const TStringList& lines);

    TJvGIFImage* OwnerImage() const { return OwnerImage_; }
    TBitmap* CachedBitmap() { return CachedBitmap_ ? &*CachedBitmap_ : nullptr; }
    TGIFItem* SharedData() const { return SharedData_.Get(); }
    TExtensionList* ExtensionList() { return HasExtensionList_ ? &ExtensionList_ : nullptr; }
    TPoint Origin() const { return TPoint{Left_, Top_}; }
    bool IsInterlaced() const { return IsInterlaced_; }
    bool IsCorrupted() const { return IsCorrupted_; }
    TColor KeyColor() const { return KeyColor_; }
    uint16_t DelayMs() const { return DelayMs_; }
    uint8_t DisposalMode() const { return DisposalMode_; }
    bool HasLocalTable() const { return HasLocalTable_; }
    void SetHasLocalTable(bool value) { HasLocalTable_ = value; }
#ifdef _WIN32
    // Draws FrameBitmap stretched into rect, keyed on KeyColor when
    // transparent is on and the frame has one (graphics/JvGIFDraw.cpp).
    void DrawFrame(TCanvas& canvas, const TRect& rect, bool transparent);
#endif

protected:
    void AssignTo(TPersistent* dest) override;

private:
    friend class TJvGIFImage;
    friend class TGIFReader;

    void AssignNone();
    // Shares another frame's data and copies its fields; measures and decodes nothing.
    void CopyFrame(TJvGIFFrame& frame);
    // Counts bytes of pixels held by CachedBitmap against the owner's budget.
    void ClaimPixelBytes(uint64_t bytes);
    // What a frame bitmap of that size and format holds: its pixels and, with
    // gdiCopy, the GDI bitmap beside them (Windows; of the display's depth
    // unless monochrome).
    static uint64_t HeldPixelBytes(int width, int height, int pixelBits, bool gdiCopy);
    // A frame bitmap of that size holds no more pixels than the owner's
    // logical screen (or the frame has no owner). Only then does it get a
    // GDI copy of all of it (switched to the display's form unless
    // monochrome): a larger one is drawn through the part that shows, and a
    // copy of all of it could cost far more than the screen.
    bool FitsScreen(int width, int height) const;
    // The stored rows of the frame's bitmap; raises what building it would
    // (depth, size, the owner's budget) before anything is allocated.
    struct TPixelLayout {
        int32_t Width = 0;
        int32_t Height = 0;
        int Bits = 8;
        uint64_t Bytes = 0;
    };
    TPixelLayout PixelLayout() const;
    // Decodes the raster into pixels (layout.Bytes of them) and ORs the
    // decoder's corrupt flag into IsCorrupted.
    void DecodePixels(const TPixelLayout& layout, uint8_t* pixels);
    // Copies the graphic into CachedBitmap; where the copy fails, draws it
    // there over the brush colour FF00FF instead. Returns the bitmap's brush
    // colour.
    TColor CopyGraphicToBitmap(TGraphic& graphic);

    // Takes list as the frame's extensions; none leaves the frame without a list.
    void SetExtensionList(std::optional<TExtensionList>&& list);

    TJvGIFImage* OwnerImage_;
    TSharedRef<TGIFItem> SharedData_;
    uint64_t PixelBytes_ = 0;
    // In place, as the list: a frame is then fewer allocations.
    std::optional<TBitmap> CachedBitmap_;
    // The frame's extensions while HasExtensionList_; the flag among the
    // small fields below instead of an optional's word of its own (an
    // animation holds hundreds of frames).
    TExtensionList ExtensionList_;
    bool HasExtensionList_ = false;
    bool IsInterlaced_ = false;
    bool IsCorrupted_ = false;
    uint8_t DisposalMode_ = dpUnspecified;
    bool HasLocalTable_ = false;
    uint16_t DelayMs_ = 0;
    TColor KeyColor_ = clNone;
    // The origin as the image descriptor gives it.
    uint16_t Left_ = 0;
    uint16_t Top_ = 0;
    // Where the frame's pixels go in the owner's block of frame pixels, and
    // how many bytes are there for them; none without a place there. The
    // block is at most 64 MiB.
    uint32_t BlockOffset_ = 0;
    uint32_t BlockBytes_ = 0;
};

class TJvGIFImage : public TGraphic {
public:
    TJvGIFImage();
    ~TJvGIFImage() override;
    const char* ClassName() const override { return "TJvGIFImage"; }

    void Assign(TPersistent* source) override;
    // True exactly when graphic is a TJvGIFImage sharing this one's header.
    bool Equals(TGraphic* graphic) override;
    bool Empty() override;
    int Height() override;
    const TPalette* Palette() override;
    bool Transparent() override;
    int Width() override;
    // The stored "Data" value: a 32-bit little-endian length, then the GIF stream.
    void ReadData(TStream& stream) override;
    // Size changes always fail with "Cannot change the Size of a GIF image".
    void SetHeight(int value) override;
    void SetWidth(int value) override;
    void WriteData(TStream& stream) override;
    // Reads the rest of the stream as one GIF stream.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
#ifdef _WIN32
    // The active frame's DrawFrame, transparent as Transparent() says.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    // The palette of ActiveBitmap; none without frames.
    HPALETTE__* PaletteHandle() override;
#endif
    // Appends a frame made from graphic and makes it the active one.
    virtual int AppendFrame(TGraphic* graphic);

    void ResetImage();
    int FrameCount() const { return FrameList_.Count(); }
    // Index outside 0..FrameCount-1 raises "List index out of bounds (%d)".
    TJvGIFFrame* FrameAt(int index) const { return FrameList_.Get(index); }
    void RecalcLogicalSize();
    TBitmap* ActiveBitmap();
    void NotifyProgress(TProgressStage stage, uint8_t percent, const std::string& message);

    TGIFData* SharedHeader() const { return SharedHeader_.Get(); }
    // 0 none, 1 "87a", 2 "89a".
    uint8_t GifVersion() const { return GifVersion_; }
    int ActiveFrameIndex() const { return ActiveFrameIndex_; }
    void SetActiveFrameIndex(int value) { ActiveFrameIndex_ = value; }
    // The logical screen size as read; 0 when the image is empty.
    int LogicalWidth();
    int LogicalHeight();
    TColor BackdropColor() const { return BackdropColor_; }
    bool LoopDeclared() const { return LoopDeclared_; }
    uint16_t LoopCount() const { return LoopCount_; }

    // Raises the change notification of the graphic.
    void Change() { Changed(this); }

    uint64_t PixelBudget() const { return PixelBudget_; }
    void SetPixelBudget(uint64_t bytes) { PixelBudget_ = bytes; }
    // Pixel bytes held by the frames' decoded bitmaps.
    uint64_t DecodedPixelBytes() const { return DecodedPixelBytes_; }

protected:
    void AssignTo(TPersistent* dest) override;

private:
    friend class TJvGIFFrame;
    friend class TGIFReader;
    friend void ParseGifStream(TJvGIFImage& image, int32_t length, TStream& source, bool buildFirstBitmap);

    TSharedRef<TGIFData> SharedHeader_;
    uint8_t GifVersion_ = 0;
    TObjectList<TJvGIFFrame> FrameList_;
    int32_t ActiveFrameIndex_ = -1;
    uint16_t LogicalWidth_ = 0;
    uint16_t LogicalHeight_ = 0;
    TColor BackdropColor_ = clNone;
    bool LoopDeclared_ = false;
    uint16_t LoopCount_ = 1;
    uint64_t PixelBudget_ = DefaultPixelBudget;
    uint64_t DecodedPixelBytes_ = 0;
    // The pixels of the frames read by a load, one after another in one
    // block, made when the first of them is needed (see FramePixels).
    std::shared_ptr<uint8_t[]> FrameBlock_;
    bool FrameBlockLaidOut_ = false;

    // Room for frame's pixels: its place in the block of frame pixels, or a
    // block of its own.
    std::shared_ptr<uint8_t[]> FramePixels(TJvGIFFrame& frame, uint64_t bytes);
    void LayOutFrameBlock();
};

// Bits per stored pixel for a colour depth: 1 → 1, 2..4 → 4, 5..8 → 8;
// anything else raises "Wrong number of colors; must be a power of 2".
int PixelBitsForDepth(int pixelDepth);
// The BMP palette for a colour table: blue, green, red, 0 per entry, and grey
// 128, 128, 128, 128 beyond the table's count; fills entries quads.
void FillPaletteQuads(const TGIFColors& colors, uint8_t* quads, uint32_t entries);
// The palette a bitmap of pixelBits bits per pixel takes from the BMP
// palette of table's colours, made once per table; shared with the table.
std::shared_ptr<const TPalette> BitmapPalette(const std::shared_ptr<TGIFColorTable>& table, int pixelBits);
