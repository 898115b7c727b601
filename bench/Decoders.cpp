#include "Decoders.h"

#include "AllocationCounter.h"

#include "gif/JvGIF.h"
#include "gif/JvGIFDecoder.h"
#include "rtl/Errors.h"
#include "ReferenceDecoder.h"
#include "Wuffs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The file in a memory stream, as the program's stored data reaches the
// reader: read in place, like giflib and stb_image read the caller's buffer.
std::unique_ptr<TMemoryStream> MemoryStreamOf(const Bytes& file)
{
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(file.data(), int64_t(file.size()));
    stream->SetPosition(0);
    return stream;
}

// Loading builds frame 0's bitmap; every other frame's bitmap is built the
// way the animator asks for it.
bool LoadAndBuildAll(TMemoryStream& file, TJvGIFImage& image)
{
    file.SetPosition(0);
    image.LoadFromStream(file);
    for (int i = 0; i < image.FrameCount(); ++i)
        image.FrameAt(i)->FrameBitmap();
    return image.FrameCount() > 0;
}

std::function<bool()> PrepareOurs(const Bytes& file)
{
    std::shared_ptr<TMemoryStream> stream = MemoryStreamOf(file);
    return [stream] {
        try {
            TJvGIFImage image;
            return LoadAndBuildAll(*stream, image);
        } catch (const Exception&) {
            return false;
        }
    };
}

// What DecodeFrameRaster needs for one frame, gathered before timing.
struct RasterJob {
    TMemoryStream* raster;
    TRasterDestination destination;
    size_t bytes;
    bool interlaced;
    int pixelDepth;
};

struct RasterWork {
    TJvGIFImage image;
    std::vector<RasterJob> jobs;
    std::vector<uint8_t> pixels;
};

std::function<bool()> PrepareRaster(const Bytes& file)
{
    auto work = std::make_shared<RasterWork>();
    try {
        work->image.LoadFromStream(*MemoryStreamOf(file));
        size_t largest = 0;
        for (int i = 0; i < work->image.FrameCount(); ++i) {
            TJvGIFFrame* frame = work->image.FrameAt(i);
            TGIFItem* item = frame->SharedData();
            if (!item->EncodedData)
                continue;
            RasterJob job{};
            job.raster = &*item->EncodedData;
            job.destination.PixelsPerRow = item->RasterSize.X;
            job.destination.RowCount = item->RasterSize.Y;
            job.destination.PixelBits = PixelBitsForDepth(item->PixelDepth);
            job.bytes = RasterStride(item->RasterSize.X, job.destination.PixelBits) * item->RasterSize.Y;
            job.interlaced = frame->IsInterlaced();
            job.pixelDepth = item->PixelDepth;
            largest = std::max(largest, job.bytes);
            work->jobs.push_back(job);
        }
        work->pixels.resize(largest);
    } catch (const Exception&) {
        return [] { return false; };
    }
    return [work] {
        try {
            for (RasterJob& job : work->jobs) {
                job.destination.Pixels = work->pixels.data();
                job.raster->SetPosition(0);
                bool corrupt = false;
                DecodeFrameRaster(*job.raster, job.destination, job.interlaced, true, job.pixelDepth, corrupt,
                                  nullptr);
            }
            return !work->jobs.empty();
        } catch (const Exception&) {
            return false;
        }
    };
}

template <bool (*Decode)(const Bytes&)>
std::function<bool()> Plain(const Bytes& file)
{
    return [&file] { return Decode(file); };
}

}  // namespace

bool CountAllocations(const Bytes& file, AllocationCounts& counts)
{
    std::unique_ptr<TMemoryStream> stream = MemoryStreamOf(file);
    try {
        const uint64_t start = HeapAllocations();
        TJvGIFImage image;
        image.LoadFromStream(*stream);
        const uint64_t loaded = HeapAllocations();
        for (int i = 0; i < image.FrameCount(); ++i)
            image.FrameAt(i)->FrameBitmap();
        counts.frames = image.FrameCount();
        counts.load = loaded - start;
        counts.laterFrames = HeapAllocations() - loaded;
        return true;
    } catch (const Exception&) {
        return false;
    }
}

std::vector<Decoder> AllDecoders()
{
    return {
        {"ours", true, PrepareOurs},
        {"raster", true, PrepareRaster},
#ifdef KANTREL_BENCH_WUFFS
        {"wuffs", false, PrepareWuffs},
#endif
        {"giflib", false, Plain<GiflibDecode>},
        {"stb", false, Plain<StbDecode>},
    };
}

namespace {

struct OurDecode {
    std::vector<uint8_t> pixels;
    bool corrupt = false;
    std::string error;
};

OurDecode DecodeWithCodec(TMemoryStream& raster, int width, int height, int pixelBits, bool interlaced,
                          int pixelDepth, bool acceptCorrupt)
{
    OurDecode out;
    // Not zero-filled: the decoder writes every byte.
    out.pixels.assign(RasterStride(uint64_t(width), uint64_t(pixelBits)) * uint64_t(height), 0xA5);
    TRasterDestination destination;
    destination.PixelsPerRow = width;
    destination.RowCount = height;
    destination.PixelBits = pixelBits;
    destination.Pixels = out.pixels.data();
    raster.SetPosition(0);
    try {
        DecodeFrameRaster(raster, destination, interlaced, acceptCorrupt, pixelDepth, out.corrupt, nullptr);
    } catch (const Exception& e) {
        out.error = std::string(e.ClassName()) + ": " + e.Message();
        out.corrupt = false;
    }
    return out;
}

int IndexAt(const uint8_t* row, int bits, int x)
{
    return bits == 8 ? row[x] : bits == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15 : (row[x / 8] >> (7 - x % 8)) & 1;
}

// Stored rows (bottom-up, padded) against a peer's indices (top row first).
bool SameIndices(const std::vector<uint8_t>& stored, int width, int height, int bits,
                 const std::vector<uint8_t>& indices)
{
    const size_t stride = RasterStride(uint64_t(width), uint64_t(bits));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = stored.data() + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x)
            if (IndexAt(row, bits, x) != indices[size_t(y) * size_t(width) + size_t(x)])
                return false;
    }
    return true;
}

#ifdef KANTREL_BENCH_WUFFS
// The benchmark's wuffs adapter checked on a one-frame file: its indices
// inside the frame's rectangle against the reference decoder's rows.
void CompareWithWuffs(const std::string& name, const Bytes& file, const std::vector<uint8_t>& reference, int width,
                      int height, int bits, int depth, VerifyCounts& counts)
{
    WuffsFrame frame;
    std::string error;
    const int mask = (1 << depth) - 1;
    // As with giflib: indices beyond the table are not compared.
    if (!WuffsSingleFrame(file, frame, error) || frame.width != width || frame.height != height ||
        std::any_of(frame.indices.begin(), frame.indices.end(), [mask](uint8_t v) { return v > mask; })) {
        ++counts.wuffsSkipped;
        return;
    }
    if (SameIndices(reference, width, height, bits, frame.indices)) {
        ++counts.wuffsSame;
    } else {
        ++counts.wuffsDifferent;
        std::printf("%s: wuffs' indices differ from the reference decoder's\n", name.c_str());
    }
}
#endif

}  // namespace

VerifyCounts Verify(const std::string& name, const Bytes& file)
{
    VerifyCounts counts;
    TJvGIFImage image;
    try {
        image.LoadFromStream(*MemoryStreamOf(file));
    } catch (const Exception& e) {
        // Frames read before the failure are gone with the image: nothing to decode.
        std::vector<GiflibFrame> frames;
        std::string error;
        if (GiflibFrames(file, frames, error))
            std::printf("%s: giflib reads it, we refuse it: %s: %s\n", name.c_str(), e.ClassName(),
                        e.Message().c_str());
        return counts;
    }
    std::vector<GiflibFrame> giflib;
    std::string giflibError;
    const bool giflibDecodes = GiflibFrames(file, giflib, giflibError) &&
                               static_cast<int>(giflib.size()) == image.FrameCount();
    int giflibDiffers = 0;
    for (int i = 0; i < image.FrameCount(); ++i) {
        TJvGIFFrame* frame = image.FrameAt(i);
        TGIFItem* item = frame->SharedData();
        const int depth = item->PixelDepth;
        const int width = item->RasterSize.X, height = item->RasterSize.Y;
        if (!item->EncodedData || depth < 1 || depth > 8 || width < 0 || height < 0)
            continue;
        const int bits = PixelBitsForDepth(depth);
        // Frames too large to build are refused before decoding.
        if (RasterStride(uint64_t(width), uint64_t(bits)) * uint64_t(height) > (uint64_t(64) << 20))
            continue;
        TMemoryStream& raster = *item->EncodedData;
        for (bool accept : {true, false}) {
            OurDecode ours = DecodeWithCodec(raster, width, height, bits, frame->IsInterlaced(), depth, accept);
            ReferenceResult want = ReferenceDecode(raster.Memory(), size_t(raster.Size()), width, height, bits,
                                                   frame->IsInterlaced(), depth, accept);
            ++counts.decodes;
            if (ours.pixels != want.pixels || ours.corrupt != want.corrupt || ours.error != want.error) {
                ++counts.mismatches;
                size_t at = std::mismatch(ours.pixels.begin(), ours.pixels.end(), want.pixels.begin()).first -
                            ours.pixels.begin();
                std::printf("%s frame %d (%dx%d, %d bits%s, accept corrupt %d): decoder differs from the "
                            "reference: first byte %zu of %zu; corrupt %d/%d; error \"%s\"/\"%s\"\n",
                            name.c_str(), i, width, height, bits, frame->IsInterlaced() ? ", interlaced" : "",
                            accept, at, ours.pixels.size(), ours.corrupt, want.corrupt, ours.error.c_str(),
                            want.error.c_str());
            }
#ifdef KANTREL_BENCH_WUFFS
            if (accept && image.FrameCount() == 1 && want.error.empty())
                CompareWithWuffs(name, file, want.pixels, width, height, bits, depth, counts);
#endif
            if (!accept || !giflibDecodes || !ours.error.empty())
                continue;
            const GiflibFrame& g = giflib[size_t(i)];
            const int mask = (1 << depth) - 1;
            // Indices beyond the frame's table: we keep their low bits, giflib all of them.
            if (g.width != width || g.height != height ||
                std::any_of(g.indices.begin(), g.indices.end(), [mask](uint8_t v) { return v > mask; }))
                continue;
            const bool same = SameIndices(ours.pixels, width, height, bits, g.indices);
            ++(same ? counts.giflibSame : counts.giflibDifferent);
            if (!same)
                ++giflibDiffers;
        }
    }
    if (giflibDiffers != 0)
        std::printf("%s: %d frames differ from giflib\n", name.c_str(), giflibDiffers);
    return counts;
}
