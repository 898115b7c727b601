// The adapter over wuffs' GIF decoder; wuffs itself is compiled apart, as C.

#include "Wuffs.h"

#include <cstdlib>
#include <memory>

#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include <wuffs-v0.4.c>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

struct WuffsWork {
    const Bytes* file = nullptr;
    std::unique_ptr<wuffs_gif__decoder, FreeDeleter> decoder;
    wuffs_base__pixel_config config{};
    // The palette's 1024 bytes, then the screen's pixels.
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> work;
};

bool Failed(const wuffs_base__status& status, std::string* error)
{
    if (!wuffs_base__status__is_error(&status) && !wuffs_base__status__is_suspension(&status))
        return false;
    if (error)
        *error = wuffs_base__status__message(&status);
    return true;
}

bool Start(WuffsWork& w, wuffs_base__io_buffer& source, wuffs_base__image_config& image, std::string* error)
{
    if (Failed(wuffs_gif__decoder__initialize(w.decoder.get(), sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                                              WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED),
               error))
        return false;
    source = wuffs_base__ptr_u8__reader(const_cast<uint8_t*>(w.file->data()), w.file->size(), true);
    return !Failed(wuffs_gif__decoder__decode_image_config(w.decoder.get(), &image, &source), error);
}

// Decoder, buffers and the logical screen's pixel format; false when wuffs
// cannot read the image's header.
bool Set(WuffsWork& w, const Bytes& file, std::string* error)
{
    w.file = &file;
    w.decoder.reset(static_cast<wuffs_gif__decoder*>(std::malloc(sizeof__wuffs_gif__decoder())));
    wuffs_base__io_buffer source;
    wuffs_base__image_config image;
    if (!w.decoder || !Start(w, source, image, error))
        return false;
    const uint32_t width = wuffs_base__pixel_config__width(&image.pixcfg);
    const uint32_t height = wuffs_base__pixel_config__height(&image.pixcfg);
    wuffs_base__pixel_config__set(&w.config, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                  WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
    w.buffer.assign(WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH + size_t(width) * height, 0);
    w.work.assign(size_t(wuffs_gif__decoder__workbuf_len(w.decoder.get()).max_incl), 0);
    return true;
}

// Decodes every frame into the screen buffer; bounds receives the first
// frame's rectangle. Answers the frames decoded whole, -1 when the header
// already fails.
int DecodeAll(WuffsWork& w, std::string* error, wuffs_base__rect_ie_u32* bounds)
{
    wuffs_base__io_buffer source;
    wuffs_base__image_config image;
    if (!Start(w, source, image, error))
        return -1;
    wuffs_base__pixel_buffer pixels;
    if (Failed(wuffs_base__pixel_buffer__set_from_slice(
                   &pixels, &w.config, wuffs_base__make_slice_u8(w.buffer.data(), w.buffer.size())),
               error))
        return -1;
    const wuffs_base__slice_u8 work = wuffs_base__make_slice_u8(w.work.data(), w.work.size());
    int frames = 0;
    for (;;) {
        wuffs_base__frame_config frame;
        const wuffs_base__status status = wuffs_gif__decoder__decode_frame_config(w.decoder.get(), &frame, &source);
        if (status.repr == wuffs_base__note__end_of_data)
            break;
        if (Failed(status, error))
            break;
        if (bounds && frames == 0)
            *bounds = wuffs_base__frame_config__bounds(&frame);
        if (Failed(wuffs_gif__decoder__decode_frame(w.decoder.get(), &pixels, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
                                                    work, nullptr),
                   error))
            break;
        ++frames;
    }
    return frames;
}

}  // namespace

std::function<bool()> PrepareWuffs(const Bytes& file)
{
    auto work = std::make_shared<WuffsWork>();
    if (!Set(*work, file, nullptr))
        return [] { return false; };
    // Damaged files are decoded as far as wuffs goes, as ours and giflib do.
    return [work] { return DecodeAll(*work, nullptr, nullptr) >= 0; };
}

bool WuffsSingleFrame(const Bytes& file, WuffsFrame& frame, std::string& error)
{
    WuffsWork w;
    if (!Set(w, file, &error))
        return false;
    wuffs_base__rect_ie_u32 bounds{};
    error.clear();
    const int frames = DecodeAll(w, &error, &bounds);
    if (!error.empty() || frames != 1) {
        if (error.empty())
            error = std::to_string(frames) + " frames";
        return false;
    }
    const uint32_t stride = wuffs_base__pixel_config__width(&w.config);
    frame.width = int(bounds.max_excl_x - bounds.min_incl_x);
    frame.height = int(bounds.max_excl_y - bounds.min_incl_y);
    frame.indices.clear();
    const uint8_t* screen = w.buffer.data() + WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH;
    for (uint32_t y = bounds.min_incl_y; y < bounds.max_excl_y; ++y)
        frame.indices.insert(frame.indices.end(), screen + size_t(y) * stride + bounds.min_incl_x,
                             screen + size_t(y) * stride + bounds.max_excl_x);
    return true;
}
