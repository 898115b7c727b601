#include "gif/JvGIFReader.h"

#include "rtl/Errors.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t ExtensionIntroducer = 0x21;
constexpr uint8_t ImageIntroducer = 0x2C;
constexpr uint8_t Trailer = 0x3B;
constexpr uint16_t MaxLoopCount = 30000;
// Each stored identifier is 11 bytes; a larger block-size byte compares no more.
constexpr size_t IdentifierLength = 11;
// Every blue value of an entry, down and back up: the uniqueness search ends there.
constexpr int MaxBlueNudges = 512;

} // namespace

int BitsForColorCount(int count) {
    for (int bits = 1; bits <= 8; ++bits)
        if (count == 1 << bits)
            return bits;
    throw EInvalidGraphicOperation(SWrongGIFColors);
}

bool ColorRepeated(const TGIFColors& colors, int index) {
    const TColor color = TripletToColor(colors.Entries[index]);
    const int count = std::min(colors.Count, 256);
    for (int j = 0; j < count; ++j)
        if (j != index && TripletToColor(colors.Entries[j]) == color)
            return true;
    return false;
}

namespace {

// The blue values of the entries other than index, below the table's count,
// with entry index's red and green: the blues its colour may not take.
struct TTakenBlues {
    uint64_t Bits[4] = {};
    bool Has(uint8_t blue) const { return (Bits[blue / 64] >> (blue % 64) & 1) != 0; }
};

TTakenBlues TakenBlues(const TGIFColors& colors, int index) {
    TTakenBlues taken;
    const int count = std::min(colors.Count, 256);
    const uint8_t* entries = &colors.Entries[0][0];
    const uint32_t redGreen = uint32_t(entries[3 * index]) | uint32_t(entries[3 * index + 1]) << 8;
    for (int j = 0; j < count; ++j) {
        uint16_t two;
        std::memcpy(&two, entries + 3 * j, 2);
        if (two == redGreen && j != index) {
            const uint8_t blue = entries[3 * j + 2];
            taken.Bits[blue / 64] |= uint64_t(1) << (blue % 64);
        }
    }
    return taken;
}

void NudgeBlue(TGIFColors& colors, int index, const TTakenBlues& taken) {
    int step = -1;
    for (int pass = 0; pass < MaxBlueNudges && taken.Has(colors.Entries[index][2]); ++pass) {
        const uint8_t blue = colors.Entries[index][2];
        if (blue == 0)
            step = 1;
        if (blue == 255)
            step = -1;
        colors.Entries[index][2] = uint8_t(blue + step);
    }
}

} // namespace

void MakeColorUnique(TGIFColors& colors, int index) {
    NudgeBlue(colors, index, TakenBlues(colors, index));
}

void TGIFReader::MakeKeyColorUnique(TGIFItem& item, int index) {
    // The global table stays as it is: a frame changes a copy of it, and
    // the frames that key the same entry of it share the table they key,
    // looked at once.
    const std::shared_ptr<TGIFColorTable>& global = Image.SharedHeader_->GlobalTable;
    const bool fromGlobal = item.ColorTable == global;
    if (fromGlobal) {
        for (int i = 0; i < KeyedCount; ++i) {
            if (KeyedGlobalTables[i].first == index) {
                item.ColorTable = KeyedGlobalTables[i].second;
                return;
            }
        }
    }
    const TTakenBlues taken = TakenBlues(item.ColorTable->Colors, index);
    if (taken.Has(item.ColorTable->Colors.Entries[index][2])) {
        // A table shared with others (the global one among them) is copied before it changes.
        if (item.ColorTable.use_count() > 1) {
            auto own = NewColorTable();
            own->Colors = item.ColorTable->Colors;
            item.ColorTable = std::move(own);
        }
        NudgeBlue(item.ColorTable->Colors, index, taken);
    }
    if (fromGlobal && KeyedCount < int(std::size(KeyedGlobalTables)))
        KeyedGlobalTables[KeyedCount++] = {index, item.ColorTable};
}

size_t TGIFReader::ReadSome(uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, Remaining());
    std::memcpy(buffer, Data + Position, n);
    Position += n;
    return n;
}

void TGIFReader::ReadExact(uint8_t* buffer, size_t count) {
    if (count > Remaining()) {
        Position = Size;
        throw EReadError(SReadError);
    }
    ReadSome(buffer, count);
}

void TGIFReader::CheckSignature() {
    Image.GifVersion_ = 0;
    uint8_t signature[3];
    if (ReadSome(signature, 3) != 3 || std::memcmp(signature, "GIF", 3) != 0)
        throw EInvalidGraphicOperation(SGIFVersion);
    uint8_t version[3];
    if (ReadSome(version, 3) != 3)
        throw EInvalidGraphicOperation(SGIFVersion);
    static const char* const Versions[3] = {"\0\0\0", "87a", "89a"};
    for (uint8_t i = 0; i < 3 && Image.GifVersion_ == 0; ++i)
        if (std::memcmp(version, Versions[i], 3) == 0)
            Image.GifVersion_ = i;
    if (Image.GifVersion_ == 0)
        throw EInvalidGraphicOperation(SGIFVersion);
}

void TGIFReader::ParseScreenHeader() {
    // Bytes missing at the end of the data count as zero.
    uint8_t descriptor[7] = {};
    ReadSome(descriptor, 7);
    TGIFData& header = *Image.SharedHeader_;
    Image.LogicalWidth_ = uint16_t(descriptor[0] | (descriptor[1] << 8));
    Image.LogicalHeight_ = uint16_t(descriptor[2] | (descriptor[3] << 8));
    const uint8_t packed = descriptor[4];
    BackgroundIndex = descriptor[5];
    header.PixelAspect = descriptor[6];
    header.ColorBits = uint8_t((packed & 7) + 1);
    header.ColorResolution = uint8_t(((packed >> 4) & 7) + 1);
    HasGlobalTable = (packed & 0x80) != 0;
}

void TGIFReader::ParseGlobalTable() {
    if (!HasGlobalTable)
        return;
    auto table = NewColorTable();
    Image.SharedHeader_->GlobalTable = table;
    TGIFColors& colors = table->Colors;
    colors.Count = 1 << Image.SharedHeader_->ColorBits;
    // A table cut short keeps zero in the entries that are missing.
    ReadSome(&colors.Entries[0][0], 3 * size_t(colors.Count));
    if (BackgroundIndex < colors.Count)
        Image.BackdropColor_ = TripletToColor(colors.Entries[BackgroundIndex]);
}

uint8_t TGIFReader::NextSeparator() {
    uint8_t b = 0;
    while (!AtEnd() && b == 0)
        b = Data[Position++];
    return b;
}

std::unique_ptr<TStringList> TGIFReader::ReadSubBlocks() {
    auto list = std::make_unique<TStringList>();
    while (!AtEnd()) {
        const uint8_t n = Data[Position++];
        if (n == 0)
            break;
        // A sub-block cut short keeps its length; the missing bytes are zero.
        std::string block(n, '\0');
        ReadSome(reinterpret_cast<uint8_t*>(block.data()), n);
        list->Add(std::move(block));
    }
    return list;
}

std::unique_ptr<TExtension> TGIFReader::ParseExtension() {
    auto extension = std::make_unique<TExtension>();
    const uint8_t label = Data[Position++];
    switch (label) {
    case 0xF9:
        extension->Kind = ekGraphicControl;
        ReadSome(extension->FixedPart, 6);
        break;
    case 0xFE:
        extension->Kind = ekComment;
        extension->SubBlocks = ReadSubBlocks();
        break;
    case 0x01:
        extension->Kind = ekPlainText;
        ReadSome(extension->FixedPart, 13);
        extension->SubBlocks = ReadSubBlocks();
        break;
    case 0xFF:
        extension->Kind = ekApplication;
        ReadSome(extension->FixedPart, 12);
        extension->SubBlocks = ReadSubBlocks();
        break;
    default: throw EInvalidGraphicOperation(Format(SUnrecognizedGIFExt, unsigned(label)));
    }
    return extension;
}

bool TGIFReader::IsLoopBlock(const TExtension& extension) {
    if (extension.Kind != ekApplication || !extension.SubBlocks || extension.SubBlocks->Empty())
        return false;
    const size_t compared = std::min<size_t>(extension.FixedPart[0], IdentifierLength);
    const uint8_t* identifier = extension.FixedPart + 1;
    if (std::memcmp(identifier, "NETSCAPE2.0", compared) != 0 && std::memcmp(identifier, "ANIMEXTS1.0", compared) != 0)
        return false;
    const std::string& first = extension.SubBlocks->Get(0);
    return first.size() >= 3 && uint8_t(first[0]) == 1;
}

std::optional<TExtensionList> TGIFReader::CollectExtensions(uint8_t& ch) {
    std::optional<TExtensionList> list;
    while (ch == ExtensionIntroducer) {
        // An introducer as the last byte: the data ends between blocks.
        if (AtEnd()) {
            ch = Trailer;
            break;
        }
        std::unique_ptr<TExtension> extension = ParseExtension();
        if (extension->Kind == ekPlainText)
            list.reset();
        if (extension->Kind == ekPlainText || extension->Kind == ekApplication) {
            if (IsLoopBlock(*extension)) {
                const std::string& block = extension->SubBlocks->Get(0);
                Image.LoopDeclared_ = true;
                Image.LoopCount_ = uint16_t(
                    std::min<unsigned>(uint8_t(block[1]) + 256u * uint8_t(block[2]), MaxLoopCount));
            }
        } else {
            if (!list)
                list.emplace();
            list->Add(std::move(extension));
        }
        ch = AtEnd() ? Trailer : NextSeparator();
    }
    return list;
}

void TGIFReader::CopyImageBlock(TJvGIFFrame& frame) {
    TGIFItem& item = *frame.SharedData_;
    frame.IsCorrupted_ = false;
    uint8_t descriptor[9];
    ReadExact(descriptor, 9);
    const uint8_t packed = descriptor[8];
    frame.IsInterlaced_ = (packed & 0x40) != 0;
    if (packed & 0x80) {
        item.PixelDepth = uint8_t((packed & 7) + 1);
        frame.HasLocalTable_ = true;
        auto table = NewColorTable();
        TGIFColors& colors = table->Colors;
        colors.Count = 1 << item.PixelDepth;
        ReadExact(&colors.Entries[0][0], 3 * size_t(colors.Count));
        item.ColorTable = std::move(table);
    } else {
        frame.HasLocalTable_ = false;
        item.ColorTable = Image.SharedHeader_->GlobalTable;
    }
    uint8_t codeSize;
    ReadExact(&codeSize, 1);
    // The sub-blocks are copied as they stand, size bytes and terminator
    // included: find where they end, then copy them in one piece.
    const size_t start = Position;
    size_t end = Position;
    if (end >= Size) {
        // No sub-block at all after the code size.
        frame.IsCorrupted_ = true;
    }
    while (end < Size) {
        const size_t n = Data[end];
        if (end + 1 + n > Size) {
            frame.IsCorrupted_ = true;
            break;
        }
        end += 1 + n;
        if (n == 0)
            break;
    }
    TMemoryStream& encoded = *item.EncodedData;
    encoded.SetSize(0);
    encoded.SetCapacity(int64_t(1 + end - start));
    encoded.WriteBuffer(&codeSize, 1);
    encoded.WriteBuffer(Data + start, int64_t(end - start));
    Position = frame.IsCorrupted_ ? Size : end;
}

void TGIFReader::ParseFrame(TJvGIFFrame& frame) {
    TGIFItem& item = *frame.SharedData_;
    item.EncodedData.emplace();
    try {
        const size_t descriptorAt = Position;
        CopyImageBlock(frame);
        if (frame.IsCorrupted_ && !AcceptCorruptFrames)
            throw EInvalidGraphicOperation(SReadError);
        item.EncodedData->SetPosition(0);
        const uint8_t* d = Data + descriptorAt;
        const uint16_t left = uint16_t(d[0] | (d[1] << 8));
        const uint16_t top = uint16_t(d[2] | (d[3] << 8));
        uint16_t width = uint16_t(d[4] | (d[5] << 8));
        uint16_t height = uint16_t(d[6] | (d[7] << 8));
        if (width == 0)
            width = Image.LogicalWidth_;
        if (height == 0)
            height = Image.LogicalHeight_;
        frame.Left_ = left;
        frame.Top_ = top;
        item.RasterSize = TPoint{width, height};
        item.DescriptorFlags = d[8];

        frame.DelayMs_ = 0;
        if (TExtensionList* extensions = frame.ExtensionList()) {
            for (const auto& extension : *extensions) {
                if (extension->Kind != ekGraphicControl)
                    continue;
                const uint8_t* fixed = extension->FixedPart;
                const uint8_t flags = fixed[1];
                if (flags & 1) {
                    const int index = fixed[4];
                    if (index < item.FrameColors().Count) {
                        MakeKeyColorUnique(item, index);
                        frame.KeyColor_ = TripletToColor(item.FrameColors().Entries[index]);
                    }
                } else {
                    frame.KeyColor_ = clNone;
                }
                // Delays beyond 6553 hundredths do not fit in milliseconds: the longest stays.
                const unsigned delay = unsigned(fixed[2] | (fixed[3] << 8)) * 10u;
                frame.DelayMs_ = uint16_t(std::min(std::max<unsigned>(frame.DelayMs_, delay), 65535u));
                frame.DisposalMode_ = uint8_t((flags >> 2) & 7);
            }
        }
    } catch (...) {
        item.EncodedData.reset();
        throw;
    }
}

void TGIFReader::ReadBlocks() {
    uint8_t ch = NextSeparator();
    while (ch != 0 && ch != Trailer && !AtEnd()) {
        std::optional<TExtensionList> list = CollectExtensions(ch);
        if (ch == ImageIntroducer) {
            auto frame = std::make_unique<TJvGIFFrame>(&Image);
            const TGIFColors& global = Image.SharedHeader_->GlobalColors();
            if (global.Count > 0)
                frame->SharedData_->PixelDepth = uint8_t(BitsForColorCount(global.Count));
            frame->SetExtensionList(std::move(list));
            ParseFrame(*frame);
            Image.FrameList_.Add(std::move(frame));
            ch = AtEnd() ? Trailer : NextSeparator();
            if (ch != ExtensionIntroducer && ch != ImageIntroducer && ch != Trailer)
                ch = 0;
        } else {
            TGIFData& header = *Image.SharedHeader_;
            if (header.CommentLines.Empty() && list) {
                for (const auto& extension : *list) {
                    if (extension->Kind != ekComment)
                        continue;
                    if (!header.CommentLines.Empty())
                        header.CommentLines.Add("\r\n\r\n");
                    if (extension->SubBlocks)
                        header.CommentLines.AddStrings(*extension->SubBlocks);
                }
                DisposeExtensionList(list);
            } else {
                DisposeExtensionList(list);
                if (ch != 0 && ch != Trailer)
                    throw EInvalidGraphicOperation(SReadError);
            }
        }
    }
}

void ParseGifStream(TJvGIFImage& image, int32_t length, TStream& source, bool buildFirstBitmap) {
    image.ResetImage();
    if (length > 0) {
        // The whole stream is read at once; a source that cannot deliver it
        // fails before anything is allocated for it.
        const int64_t position = source.Position();
        if (source.Size() - position < length)
            throw EReadError(SReadError);
        std::vector<uint8_t> copy;
        const uint8_t* data;
        if (auto* memory = dynamic_cast<TMemoryStream*>(&source)) {
            // Already in memory: read it in place.
            data = memory->Memory() + position;
            source.SetPosition(position + length);
        } else {
            copy.resize(size_t(length));
            source.ReadBuffer(copy.data(), length);
            data = copy.data();
        }
        TGIFReader reader(image, data, size_t(length));
        reader.CheckSignature();
        reader.ParseScreenHeader();
        reader.ParseGlobalTable();
        reader.ReadBlocks();
    }
    if (image.FrameCount() > 0) {
        image.ActiveFrameIndex_ = 0;
        if (buildFirstBitmap) {
            try {
                image.ActiveBitmap();
            } catch (...) {
                image.FrameList_.Delete(0);
                throw;
            }
        }
    }
    image.SetPaletteModified(true);
    image.Change();
}
