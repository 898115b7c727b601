#pragma once
// The graphic base (a drawable picture with change and progress
// notifications) and the reference-counted holders that graphics share.

#include "rtl/Colors.h"
#include "rtl/Persistent.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class TStream;
#ifdef _WIN32
// Drawing needs a device context: the canvas and the definitions of the
// graphics' drawing belong to the Windows side (src/graphics/).
class TCanvas;
struct HPALETTE__;
#endif

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

// Up to 256 colours held in place, so that a bitmap's palette is no
// allocation of its own. Entries at and beyond size() are not kept.
class TPaletteColors {
public:
    static constexpr size_t Capacity = 256;

    TPaletteColors() noexcept {}
    TPaletteColors(const TPaletteColors& other) noexcept { *this = other; }
    TPaletteColors& operator=(const TPaletteColors& other) noexcept {
        Count_ = other.Count_;
        std::copy_n(other.Colors_, Count_, Colors_);
        return *this;
    }

    size_t size() const { return Count_; }
    bool empty() const { return Count_ == 0; }
    void clear() { Count_ = 0; }
    // Sets the count (at most Capacity); the entries' values are then the caller's to write.
    void SetCount(size_t count) { Count_ = uint32_t(std::min(count, Capacity)); }
    TColor& operator[](size_t index) { return Colors_[index]; }
    const TColor& operator[](size_t index) const { return Colors_[index]; }
    TColor* begin() { return Colors_; }
    TColor* end() { return Colors_ + Count_; }
    const TColor* begin() const { return Colors_; }
    const TColor* end() const { return Colors_ + Count_; }

private:
    uint32_t Count_ = 0;
    TColor Colors_[Capacity];
};

// A logical palette: the colours a bitmap's pixel indices name.
struct TPalette {
    TPaletteColors Colors;
};

enum TProgressStage { psStarting, psRunning, psEnding };

using TProgressEvent = std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone,
                                          bool redrawNow, const TRect& rect, const std::string& message)>;

// An event handler that takes room only once it is set: a graphic's
// handlers are rarely set (never on a frame's bitmap), and a std::function
// held in place is 32 bytes of every graphic.
template <typename Function>
class TEventSlot {
public:
    TEventSlot() = default;
    TEventSlot(TEventSlot&&) noexcept = default;
    TEventSlot& operator=(TEventSlot&&) noexcept = default;
    template <typename F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, TEventSlot>)
    TEventSlot(F&& handler) {
        *this = std::forward<F>(handler);
    }
    template <typename F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, TEventSlot>)
    TEventSlot& operator=(F&& handler) {
        Function function(std::forward<F>(handler));
        if (!function)
            Handler_.reset();
        else if (Handler_)
            *Handler_ = std::move(function);
        else
            Handler_ = std::make_unique<Function>(std::move(function));
        return *this;
    }

    explicit operator bool() const { return Handler_ != nullptr; }
    // Calling an unset slot raises std::bad_function_call, as an empty function does.
    template <typename... Args>
    void operator()(Args&&... args) const {
        if (!Handler_)
            throw std::bad_function_call();
        (*Handler_)(std::forward<Args>(args)...);
    }

private:
    std::unique_ptr<Function> Handler_;
};

class TGraphic : public TPersistent {
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;
    const char* ClassName() const override { return "TGraphic"; }

    TEventSlot<TObjectEvent> OnChange;
    TEventSlot<TProgressEvent> OnProgress;

    bool Modified() const { return Modified_; }
    void SetModified(bool value) { Modified_ = value; }
    bool PaletteModified() const { return PaletteModified_; }
    void SetPaletteModified(bool value) { PaletteModified_ = value; }

    // Equality: the base compares the saved streams of two graphics of one class.
    virtual bool Equals(TGraphic* graphic);
    virtual bool Empty() = 0;
    virtual int Height() = 0;
    // The palette the picture's pixels use, or none.
    virtual const TPalette* Palette() { return nullptr; }
    virtual bool Transparent() { return Transparent_; }
    virtual int Width() = 0;
    // The stored "Data" property: raw bytes inside a window definition.
    virtual void ReadData(TStream& stream);
    virtual void SetHeight(int value) = 0;
    virtual void SetPalette(const TPalette* /*value*/) {}
    virtual void SetTransparent(bool value);
    virtual void SetWidth(int value) = 0;
    virtual void WriteData(TStream& stream);
    // Opens the file (path in UTF-8) and loads it through LoadFromStream.
    virtual void LoadFromFile(const std::string& path);
    virtual void SaveToFile(const std::string& path);
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
#ifdef _WIN32
    // Draws the picture stretched into rect.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
    // The GDI palette of the picture's colours, owned by the graphic; null
    // when it has none.
    virtual HPALETTE__* PaletteHandle() { return nullptr; }
#endif

protected:
    // Sets the modified flag and calls the change handler.
    virtual void Changed(TObject* sender);
    // The flag alone, for constructors: nothing has changed yet.
    void InitTransparent(bool value) { Transparent_ = value; }
    void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& rect,
                  const std::string& message);

private:
    bool Modified_ = false;
    bool Transparent_ = false;
    bool PaletteModified_ = false;
};

// A reference-counted holder of data that copies of a graphic share.
class TSharedImage {
public:
    TSharedImage() = default;
    TSharedImage(const TSharedImage&) = delete;
    TSharedImage& operator=(const TSharedImage&) = delete;
    virtual ~TSharedImage() = default;

    int32_t RefCount() const { return RefCount_; }
    void Reference() { ++RefCount_; }
    // Drops one reference of image (none is fine); the last one frees the
    // handle and then the holder.
    static void Release(TSharedImage* image);

protected:
    virtual void FreeHandle() = 0;

private:
    int32_t RefCount_ = 0;
};

// One counted reference to a shared holder, taken and dropped with the owner.
template <typename T>
class TSharedRef {
public:
    TSharedRef() = default;
    explicit TSharedRef(T* holder) { Reset(holder); }
    TSharedRef(const TSharedRef&) = delete;
    TSharedRef& operator=(const TSharedRef&) = delete;
    ~TSharedRef() { Reset(nullptr); }

    // Takes a reference to holder (which may be the current one) and drops the old.
    void Reset(T* holder) {
        if (holder)
            holder->Reference();
        T* old = Holder_;
        Holder_ = holder;
        TSharedImage::Release(old);
    }
    T* Get() const { return Holder_; }
    T* operator->() const { return Holder_; }
    T& operator*() const { return *Holder_; }
    explicit operator bool() const { return Holder_ != nullptr; }

private:
    T* Holder_ = nullptr;
};
