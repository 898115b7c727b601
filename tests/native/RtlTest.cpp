#include "rtl/Errors.h"
#include "rtl/ObjectList.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

TEST(Errors, ClassNamesAndFixedMessages) {
    try {
        RaiseListIndexError(7);
        FAIL() << "no error raised";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "EListError");
        EXPECT_EQ(e.Message(), "List index out of bounds (7)");
    }
    try {
        RaiseAssignError("TBitmap", "TJvGIFImage");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TBitmap to a TJvGIFImage");
    }
    EReadError read(SReadError);
    const EStreamError& asBase = read;
    EXPECT_STREQ(asBase.ClassName(), "EReadError") << "ClassName must be virtual";
    EXPECT_STREQ(EAbort().ClassName(), "EAbort");
    EXPECT_EQ(Format("%.2X|%s|%d", 0x3B, "x", -4), "3B|x|-4");
}

TEST(MemoryStream, ReadWriteSeekAndShortReads) {
    TMemoryStream s;
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    s.WriteBuffer(bytes, 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(3);
    uint8_t two[2] = {};
    s.ReadBuffer(two, 2);
    EXPECT_EQ(two[0], 4);
    EXPECT_EQ(two[1], 5);
    EXPECT_EQ(s.Read(two, 2), 0) << "read at end moves nothing";
    s.SetPosition(4);
    uint8_t three[3] = {9, 9, 9};
    EXPECT_THROW(s.ReadBuffer(three, 3), EReadError) << "short whole-buffer read";
    // Writing past the end grows the stream, the gap stays zero.
    s.SetPosition(7);
    s.WriteBuffer(bytes, 1);
    ASSERT_EQ(s.Size(), 8);
    EXPECT_EQ(s.Memory()[5], 0);
    EXPECT_EQ(s.Memory()[7], 1);
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2) << "shrinking clamps the position";
    EXPECT_EQ(s.Seek(-1, soEnd), 1);
}

TEST(MemoryStream, FarPositionsAndSizesMemoryCannotHold) {
    const uint8_t bytes[] = {1, 2, 3, 4};
    const std::vector<uint8_t> kept(bytes, bytes + 4);
    TMemoryStream s;
    s.WriteBuffer(bytes, 4);
    // Far offsets saturate instead of wrapping round to the start.
    s.SetPosition(INT64_MAX);
    EXPECT_EQ(s.Seek(10, soCurrent), INT64_MAX);
    EXPECT_EQ(s.Seek(INT64_MAX, soEnd), INT64_MAX);
    EXPECT_EQ(s.Seek(-INT64_MAX, soCurrent), 0);
    uint8_t one = 9;
    s.SetPosition(INT64_MAX);
    EXPECT_EQ(s.Read(&one, 1), 0);
    for (const int64_t at : {INT64_MAX, INT64_MAX - 2}) {
        SCOPED_TRACE(at);
        s.SetPosition(at);
        EXPECT_THROW(s.Write(bytes, 4), EOutOfMemory) << "the end would pass the largest position";
        EXPECT_EQ(s.Bytes(), kept);
    }
    // On 32-bit systems sizes above 4 GiB are refused, not cut down to a
    // small size. (A 64-bit size_t holds them all: there they would be a real
    // allocation, which the sanitizers stop at.)
    if (sizeof(size_t) < 8) {
        const int64_t tooLarge = (int64_t(1) << 32) + 16;
        EXPECT_THROW(s.SetSize(tooLarge), EOutOfMemory);
        EXPECT_THROW(s.SetCapacity(tooLarge), EOutOfMemory);
        s.SetPosition(tooLarge - 8);
        EXPECT_THROW(s.WriteBuffer(bytes, 4), EOutOfMemory);
        EXPECT_EQ(s.Bytes(), kept) << "a refused size leaves the stream as it was";
    }
}

TEST(MemoryStream, CopyFromAndFiles) {
    TMemoryStream a, b;
    const char text[] = "abcdef";
    a.WriteBuffer(text, 6);
    a.SetPosition(2);
    b.CopyFrom(a, 3);
    EXPECT_EQ(std::string(b.Bytes().begin(), b.Bytes().end()), "cde");
    EXPECT_THROW(b.CopyFrom(a, 5), EReadError) << "only 1 byte left in the source";

    // Named after the process: the native and sanitizer builds' tests, and
    // other clones' runs, may be here at the same moment.
    const auto path =
        (std::filesystem::temp_directory_path() / ("kantrel-rtl-test-" + std::to_string(::getpid()) + ".bin")).string();
    a.SaveToFile(path);
    TMemoryStream c;
    c.LoadFromFile(path);
    EXPECT_EQ(c.Bytes(), a.Bytes());
    std::remove(path.c_str());
    EXPECT_THROW(c.LoadFromFile(path), EStreamError);
    // A folder opens as a file on some systems and fails only when read.
    EXPECT_THROW(c.LoadFromFile(std::filesystem::temp_directory_path().string()), EStreamError);
    EXPECT_EQ(c.Bytes(), a.Bytes()) << "a failed load keeps the stream";
}

TEST(Lists, StringListAndObjectListIndexChecks) {
    TStringList list;
    list.Add("one");
    list.Add(std::string("t\0o", 3));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1].size(), 3u) << "strings may hold any byte";
    EXPECT_EQ(list.Text(), std::string("one\r\nt\0o\r\n", 10));
    EXPECT_THROW(list.Get(2), EListError);
    EXPECT_THROW(list.Get(-1), EListError);

    TObjectList<int> objects;
    objects.Add(std::make_unique<int>(5));
    objects.Add(std::make_unique<int>(6));
    auto taken = objects.Extract(0);
    EXPECT_EQ(*taken, 5);
    EXPECT_EQ(*objects[0], 6);
    try {
        objects.Delete(1);
        FAIL() << "no error raised";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (1)");
    }

    // Past the slot held in place and back: order kept through growth, deletes and moves.
    for (int i = 7; i < 12; ++i)
        objects.Add(std::make_unique<int>(i));
    objects.Delete(2);
    TObjectList<int> moved(std::move(objects));
    EXPECT_TRUE(objects.Empty()) << "moved from";
    std::vector<int> seen;
    for (const auto& object : moved)
        seen.push_back(*object);
    EXPECT_EQ(seen, (std::vector<int>{6, 7, 9, 10, 11}));
    objects = std::move(moved);
    EXPECT_EQ(*objects.Extract(4), 11);
    EXPECT_EQ(objects.Count(), 4);
}
