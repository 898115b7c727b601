#include "rtl/Streams.h"

#include "rtl/Errors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>

#ifdef _WIN32
#include <filesystem>
#endif

namespace {

[[noreturn]] void StreamTooLarge(int64_t newSize) {
    throw EOutOfMemory(Format("Out of memory while growing a stream to %lld bytes", static_cast<long long>(newSize)));
}

}  // namespace

int64_t TStream::Size() {
    const int64_t position = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError(SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t total = count;
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 64 * 1024)));
    while (count > 0) {
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        count -= n;
    }
    return total;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || Position_ >= size)
        return 0;
    const int64_t n = std::min(count, size - Position_);
    std::memcpy(buffer, Data_.data() + Position_, static_cast<size_t>(n));
    Position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    // A position sought far past the end: the sum would overflow.
    if (count > INT64_MAX - Position_)
        throw EOutOfMemory(Format("Out of memory while growing a stream beyond %lld bytes",
                                  static_cast<long long>(Position_)));
    const int64_t end = Position_ + count;
    const int64_t size = Size();
    if (Position_ == size) {
        // Appended: copied in as the stream grows, not zero-filled first.
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        Grow([&] { Data_.insert(Data_.end(), bytes, bytes + count); }, end);
    } else {
        if (end > size)
            SetSize(end);
        std::memcpy(Data_.data() + Position_, buffer, static_cast<size_t>(count));
    }
    Position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
    case soBeginning: Position_ = offset; break;
    // Far offsets stay far instead of wrapping round to a small position.
    case soCurrent:
        if (__builtin_add_overflow(Position_, offset, &Position_))
            Position_ = INT64_MAX;
        break;
    case soEnd:
        if (__builtin_add_overflow(Size(), offset, &Position_))
            Position_ = INT64_MAX;
        break;
    }
    if (Position_ < 0)
        Position_ = 0;
    return Position_;
}

template <typename Growth>
void TMemoryStream::Grow(Growth growth, int64_t newSize) {
    // Checked before the cast to size_t, which would cut a size above 4 GiB
    // on 32-bit systems down to a small one.
    if (static_cast<uint64_t>(newSize) > Data_.max_size())
        StreamTooLarge(newSize);
    try {
        growth();
    } catch (const std::bad_alloc&) {
        StreamTooLarge(newSize);
    } catch (const std::length_error&) {
        StreamTooLarge(newSize);
    }
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0)
        newSize = 0;
    Grow([&] { Data_.resize(static_cast<size_t>(newSize)); }, newSize);
    if (Position_ > newSize)
        Position_ = newSize;
}

void TMemoryStream::SetCapacity(int64_t capacity) {
    if (capacity > 0)
        Grow([&] { Data_.reserve(static_cast<size_t>(capacity)); }, capacity);
}

void TMemoryStream::Clear() {
    Data_.clear();
    Data_.shrink_to_fit();
    Position_ = 0;
}

std::vector<uint8_t> TMemoryStream::TakeBytes() {
    std::vector<uint8_t> bytes = std::move(Data_);
    Data_.clear();
    Position_ = 0;
    return bytes;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const int64_t size = source.Size();
    SetSize(size);
    Position_ = 0;
    if (size != 0)
        source.ReadBuffer(Data_.data(), size);
}

void TMemoryStream::SaveToStream(TStream& target) {
    target.WriteBuffer(Data_.data(), Size());
}

namespace {
#ifdef _WIN32
std::filesystem::path NativePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
#else
const std::string& NativePath(const std::string& utf8) { return utf8; }
#endif
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    std::ifstream file(NativePath(path), std::ios::binary);
    if (!file)
        throw EStreamError(Format("Cannot open file \"%s\"", path.c_str()));
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        // A read the system refuses (a folder opened as a file, an I/O error)
        // throws from the stream buffer instead of setting badbit.
        throw EReadError(SReadError);
    }
    if (file.bad())
        throw EReadError(SReadError);
    Data_ = std::move(bytes);
    Position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) {
    std::ofstream file(NativePath(path), std::ios::binary | std::ios::trunc);
    if (!file)
        throw EStreamError(Format("Cannot create file \"%s\"", path.c_str()));
    file.write(reinterpret_cast<const char*>(Data_.data()), static_cast<std::streamsize>(Data_.size()));
    // A small file is only written when it is closed: a full disk shows there.
    file.close();
    if (!file)
        throw EWriteError(SWriteError);
}
