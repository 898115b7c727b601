#pragma once
// Byte streams: an abstract stream with checked whole-buffer reads and writes,
// and a growable memory stream.

#include <cstdint>
#include <string>
#include <vector>

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Read and Write move up to count bytes and return how many moved.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t position) { Seek(position, soBeginning); }
    virtual int64_t Size();

    // Whole-buffer transfers: anything short raises EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source; when count is 0, the whole source from
    // its start.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;
    int64_t Size() override { return static_cast<int64_t>(Data_.size()); }

    void Clear();
    // Room for that many bytes without another allocation; size and contents stay.
    void SetCapacity(int64_t capacity);
    uint8_t* Memory() { return Data_.data(); }
    const uint8_t* Memory() const { return Data_.data(); }
    const std::vector<uint8_t>& Bytes() const { return Data_; }
    // Hands the bytes over without copying them; the stream is left empty.
    std::vector<uint8_t> TakeBytes();

    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& target);
    // File I/O with the path in UTF-8; failures raise EStreamError.
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

private:
    // Runs growth, which resizes Data_; allocation failures become EOutOfMemory.
    template <typename Growth>
    void Grow(Growth growth, int64_t newSize);

    std::vector<uint8_t> Data_;
    int64_t Position_ = 0;
};
