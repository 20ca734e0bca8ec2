#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbMap.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryCounter.h"
#include "platform/harbor/CbStreamWriteBinaryFile.h"
#include "platform/harbor/CbStringConversion.h"
#include "tests/harbor/AllocationProbe.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Writer = std::function<void(CbStreamWriteBinary&)>;
// Reads one value back and checks it.
using Reader = std::function<void(CbStreamReadBinary&)>;

struct Case {
    std::string name;
    Writer write;
    Reader read;
    Bytes golden;  // the exact little-endian bytes, where the case pins them down
};

template <class T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
Case value(const std::string& name, void (CbStreamWriteBinary::*write)(T),
           T (CbStreamReadBinary::*read)(), T v, Bytes golden = {}) {
    return {name, [=](CbStreamWriteBinary& s) { (s.*write)(v); },
            [=](CbStreamReadBinary& s) { EXPECT_TRUE(sameBits((s.*read)(), v)) << name; }, golden};
}

Case version(uint32_t v, Bytes golden = {}) {
    return {"version " + std::to_string(v), [=](CbStreamWriteBinary& s) { s.WriteVersion(v); },
            [=](CbStreamReadBinary& s) { EXPECT_EQ(s.ReadVersion(1), v); }, golden};
}

Case buffer(size_t size, Bytes golden = {}) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return {"buffer of " + std::to_string(size),
            [=](CbStreamWriteBinary& s) { s.WriteBuffer(data.data(), data.size()); },
            [=](CbStreamReadBinary& s) {
                Bytes back(size);
                s.ReadBuffer(back.data(), back.size());
                EXPECT_EQ(back, data);
            },
            golden};
}

// A wide string that reads back as `expected`.
Case text(const std::wstring& written, const std::wstring& expected, Bytes golden) {
    return {
        "wide string of " + std::to_string(written.size()),
        [=](CbStreamWriteBinary& s) { s.WriteWideString(written); },
        [=](CbStreamReadBinary& s) { EXPECT_EQ(s.ReadWideString(), expected) << written.size(); },
        golden};
}
Case text(const std::wstring& written, Bytes golden = {}) {
    return text(written, written, golden);
}

template <class F>
std::vector<Case> floatingCases(const std::string& type, void (CbStreamWriteBinary::*write)(F),
                                F (CbStreamReadBinary::*read)()) {
    using L = std::numeric_limits<F>;
    F payloadNaN = L::quiet_NaN();
    reinterpret_cast<unsigned char*>(&payloadNaN)[0] ^= 0x5A;  // a NaN that carries a payload
    std::vector<Case> cases;
    for (F v : {F(0), -F(0), F(0.1), L::infinity(), -L::infinity(), payloadNaN, L::denorm_min(),
                -L::denorm_min(), L::min(), L::max(), L::lowest()}) {
        cases.push_back(value(type, write, read, v));
    }
    return cases;
}

std::vector<Case> allCases() {
    using W = CbStreamWriteBinary;
    using R = CbStreamReadBinary;
    std::vector<Case> cases = {
        value("bool", &W::WriteBool, &R::ReadBool, false, {0x00}),
        value("bool", &W::WriteBool, &R::ReadBool, true, {0x01}),
        value<uint8_t>("uint8", &W::WriteUInt8, &R::ReadUInt8, 0x9A, {0x9A}),
        value<uint16_t>("uint16", &W::WriteUInt16, &R::ReadUInt16, 0xFFFF),
        value<uint16_t>("uint16", &W::WriteUInt16, &R::ReadUInt16, 0xABCD, {0xCD, 0xAB}),
        value<int32_t>("int32", &W::WriteInt32, &R::ReadInt32, std::numeric_limits<int32_t>::min()),
        value<int32_t>("int32", &W::WriteInt32, &R::ReadInt32, -2, {0xFE, 0xFF, 0xFF, 0xFF}),
        value<int32_t>("int32", &W::WriteInt32, &R::ReadInt32, std::numeric_limits<int32_t>::max()),
        value<uint32_t>("uint32", &W::WriteUInt32, &R::ReadUInt32, 0x01020304u, {4, 3, 2, 1}),
        value<int64_t>("int64", &W::WriteInt64, &R::ReadInt64, -0x0102030405060708,
                       {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE}),
        value<int64_t>("int64", &W::WriteInt64, &R::ReadInt64, std::numeric_limits<int64_t>::max()),
        value<uint64_t>("uint64", &W::WriteUInt64, &R::ReadUInt64, 0x0102030405060708u,
                        {8, 7, 6, 5, 4, 3, 2, 1}),
        value<uint64_t>("uint64", &W::WriteUInt64, &R::ReadUInt64,
                        std::numeric_limits<uint64_t>::max()),
        value("float", &W::WriteFloat, &R::ReadFloat, -2.0f, {0x00, 0x00, 0x00, 0xC0}),
        value("double", &W::WriteDouble, &R::ReadDouble, 1.0, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}),
        value("double", &W::WriteDouble, &R::ReadDouble, -0.0, {0, 0, 0, 0, 0, 0, 0, 0x80}),
        version(0), version(0x01020304u, {4, 3, 2, 1}),  // exactly as an unsigned 32-bit integer
        version(0xFFFFFFFFu), buffer(0), buffer(3, {11, 48, 85}) /* raw: no count */, buffer(1000),
        text(L"", {0, 0, 0, 0}), text(L"tooth"), text(L"Z\u00e4hne, \u6b6f, \u0417\u0443\u0431"),
        text(std::wstring(L"a\0b", 3)),
        // Outside the BMP: a surrogate pair in the stream.
        text(L"A\U0001F9B7", {3, 0, 0, 0, 0x41, 0x00, 0x3E, 0xD8, 0xB7, 0xDD}), text(L"\U0010FFFF"),
        text(L"\xD800", {1, 0, 0, 0, 0x00, 0xD8}),  // lone surrogates travel unchanged
        text(L"x\xD800y"), text(L"\xDFFF"), text(L"end\xDBFF"), text(L"\xDC00\xD800"),
        text(L"\xD83D\xDE00", L"\U0001F600", {}),  // a pair of lone surrogates reads back as one
        text(std::wstring(70000, L'\u00e9')),      // more units than a 16-bit count holds
        text(L"\x110000", L"\xFFFD", {}),          // beyond Unicode: the replacement character
    };
    for (auto& c : floatingCases("float", &W::WriteFloat, &R::ReadFloat)) {
        cases.push_back(c);
    }
    for (auto& c : floatingCases("double", &W::WriteDouble, &R::ReadDouble)) {
        cases.push_back(c);
    }
    return cases;
}

std::filesystem::path tempPath(const std::string& tag) {
    return std::filesystem::path(testing::TempDir()) /
           ("harbor_stream_" + tag + "_" + std::to_string(::getpid()) + ".bin");
}

Bytes toMemory(const Writer& write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    EXPECT_EQ(stream.GetCount(), stream.GetBuffer().size());
    return stream.GetBuffer();
}

Bytes fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::filesystem::path& path, const Bytes& bytes, size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
}

// Writes and reads back on memory and on a file; both must hold the same bytes.
void roundTrip(const Writer& write, const Reader& read, const std::string& label) {
    SCOPED_TRACE(label);
    Bytes memory = toMemory(write);
    {
        CbStreamReadBinaryBuffer stream(memory.data(), memory.size());
        read(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        EXPECT_EQ(stream.GetPosition(), memory.size());
    }
    std::filesystem::path path = tempPath("roundtrip");
    {
        CbStreamWriteBinaryFile stream(path);
        write(stream);
        EXPECT_EQ(stream.GetCount(), memory.size());
        stream.Close();
    }
    EXPECT_EQ(fileBytes(path), memory);
    {
        CbStreamReadBinaryFile stream(path);
        read(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
    }
    std::filesystem::remove(path);
}

TEST(CbStreamBinary, EveryValueTypeRoundTripsOnMemoryAndFileInLittleEndian) {
    std::vector<Case> cases = allCases();
    for (const Case& c : cases) {
        roundTrip(c.write, c.read, c.name);
        if (!c.golden.empty()) {
            EXPECT_EQ(toMemory(c.write), c.golden) << c.name;
        }
    }
    // All of them in one stream, read back in order.
    roundTrip(
        [&](CbStreamWriteBinary& s) {
            for (const Case& c : cases) {
                c.write(s);
            }
        },
        [&](CbStreamReadBinary& s) {
            for (const Case& c : cases) {
                c.read(s);
            }
        },
        "all values in a row");
}

TEST(CbStreamBinary, TruncatedInputThrowsOnMemoryAndFile) {
    for (const Case& c : allCases()) {
        Bytes full = toMemory(c.write);
        for (size_t length = 0; length < full.size(); ++length) {
            if (length == 16 && full.size() > 32) {
                length = full.size() - 16;  // long values: the first and last cuts suffice
            }
            CbStreamReadBinaryBuffer stream(full.data(), length);
            EXPECT_THROW(c.read(stream), CbException) << c.name << " cut to " << length;
        }
        if (!full.empty()) {
            std::filesystem::path path = tempPath("truncated");
            writeFileBytes(path, full, full.size() - 1);
            CbStreamReadBinaryFile stream(path);
            EXPECT_THROW(c.read(stream), CbException) << c.name << " from a truncated file";
            std::filesystem::remove(path);
        }
    }
    for (const std::filesystem::path& path :
         {tempPath("missing"), std::filesystem::path(testing::TempDir())}) {
        EXPECT_THROW({ CbStreamReadBinaryFile stream(path); }, CbException)
            << path;  // missing, a directory
    }
}

TEST(CbStreamBinary, AcceptedVersionsPassAndOthersNameTheRecordAndTheReader) {
    for (uint32_t version : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
        Bytes bytes = toMemory([&](CbStreamWriteBinary& s) { s.WriteVersion(version); });
        CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
        if (version == 1 || version == 3) {
            EXPECT_EQ(stream.ReadAcceptedVersion("test record", {1, 3}), version);
            continue;
        }
        int line = 0;
        try {
            line = __LINE__ + 1;
            stream.ReadAcceptedVersion("test record", {1, 3});
            ADD_FAILURE() << "version " << version << " accepted";
        } catch (const CbExceptionWrongFileVersion& error) {
            EXPECT_EQ(error.GetLine(), line);
            const std::string expected = "test record: unknown version " + std::to_string(version);
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.GetFile()).find("StreamTest.cpp"), std::string::npos);
        }
    }
}

// The CbMap<std::wstring, double> stream form as an ordered table, NaN-safe.
std::map<std::wstring, uint64_t> contents(const CbMap<std::wstring, double>& map) {
    std::map<std::wstring, uint64_t> result;
    for (const auto& [key, v] : map) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof(bits));
        result[key] = bits;
    }
    return result;
}

TEST(CbMap, WideStringToDoubleStreamForm) {
    CbMap<std::wstring, double> empty;
    CbMap<std::wstring, double> many;
    for (int i = 0; i < 200; ++i) {
        many[L"sub-task " + std::to_wstring(i)] = i * 0.25;
    }
    CbMap<std::wstring, double> special;
    special[L""] = -0.0;
    special[L"Z\u00e4hne \U0001F9B7"] = std::numeric_limits<double>::quiet_NaN();
    special[L"inf"] = -std::numeric_limits<double>::infinity();
    for (const CbMap<std::wstring, double>* map : {&empty, &many, &special}) {
        roundTrip([&](CbStreamWriteBinary& s) { map->Serialize(s); },
                  [&](CbStreamReadBinary& s) {
                      CbMap<std::wstring, double> back;
                      back[L"stale entry"] = 1.0;  // reading empties the map first
                      back.Serialize(s);
                      EXPECT_EQ(contents(back), contents(*map));
                  },
                  "map of " + std::to_string(map->GetCount()));
    }

    CbMap<std::wstring, double> one;
    one[L"k"] = 2.0;
    Bytes golden = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0x40};
    EXPECT_EQ(toMemory([&](auto& s) { one.Serialize(s); }), golden);

    // A repeated key: the last entry wins.
    Bytes repeated = toMemory([](auto& s) {
        s.WriteVersion(0);
        s.WriteUInt32(2);
        s.WriteWideString(L"k");
        s.WriteDouble(2.0);
        s.WriteWideString(L"k");
        s.WriteDouble(3.0);
    });
    CbMap<std::wstring, double> back;
    CbStreamReadBinaryBuffer stream(repeated.data(), repeated.size());
    back.Serialize(stream);
    ASSERT_EQ(back.GetCount(), 1u);
    EXPECT_EQ(back[L"k"], 3.0);

    Bytes full = toMemory([&](auto& s) { special.Serialize(s); });
    for (size_t length = 0; length < full.size(); ++length) {
        CbStreamReadBinaryBuffer truncated(full.data(), length);
        CbMap<std::wstring, double> map;
        EXPECT_THROW(map.Serialize(truncated), CbException) << "cut to " << length;
    }
}

TEST(CbStreamBinary, HostileCountsAndRandomBytesThrowWithoutLargeAllocations) {
    // Counts that cannot fit in what is left must be refused before anything is allocated,
    // with a message that says what was being read.
    using Read = std::function<void(CbStreamReadBinary&)>;
    struct Hostile {
        const char* what;
        Bytes bytes;
        Read read;
    };
    const Hostile hostile[] = {
        {"wide string", {0xFF, 0xFF, 0xFF, 0xFF, 'a', 0, 'b'}, [](auto& s) { s.ReadWideString(); }},
        {"map entry",
         {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 'x'},
         [](auto& s) {
             CbMap<std::wstring, double> map;
             map.Serialize(s);
         }},
        {"skipped byte", {1, 2, 3}, [](auto& s) { s.Skip(std::numeric_limits<uint64_t>::max()); }},
    };
    for (const Hostile& h : hostile) {
        CbStreamReadBinaryBuffer stream(h.bytes.data(), h.bytes.size());
        AllocationProbe::Arm();
        try {
            h.read(stream);
            ADD_FAILURE() << h.what << ": no exception";
        } catch (const CbException& e) {
            EXPECT_NE(e.GetMessage().find(h.what), std::string::npos) << e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << h.what << ": " << e.what();
        }
        EXPECT_LT(AllocationProbe::Disarm(), 4096u) << h.what;
    }

    // The count check at its edge (12 bytes hold three 4-byte elements, not four), with a
    // size of 0, and with counts whose byte total wraps around 64 bits.
    {
        const Bytes twelve(12);
        CbStreamReadBinaryBuffer stream(twelve.data(), twelve.size());
        EXPECT_NO_THROW(stream.RequireRemaining(3, 4, "edge"));
        EXPECT_THROW(stream.RequireRemaining(4, 4, "edge"), CbException);
        EXPECT_NO_THROW(stream.RequireRemaining(std::numeric_limits<uint64_t>::max(), 0, "none"));
        EXPECT_THROW(stream.RequireRemaining(uint64_t{1} << 63, 2, "wrapping"), CbException);
        EXPECT_THROW(stream.RequireRemaining((uint64_t{1} << 62) + 1, 4, "wrapping"), CbException);
    }

    // Random bytes through every reader: a value or a CbException, nothing else, and no
    // allocation beyond a small multiple of the input.
    const std::vector<Read> readers = {
        [](auto& s) { s.ReadBool(); },
        [](auto& s) { s.ReadUInt8(); },
        [](auto& s) { s.ReadUInt16(); },
        [](auto& s) { s.ReadInt32(); },
        [](auto& s) { s.ReadUInt32(); },
        [](auto& s) { s.ReadInt64(); },
        [](auto& s) { s.ReadUInt64(); },
        [](auto& s) { s.ReadFloat(); },
        [](auto& s) { s.ReadDouble(); },
        [](auto& s) { s.ReadVersion(1); },
        [](auto& s) { s.ReadWideString(); },
        [](auto& s) {
            uint8_t scratch[24];
            s.ReadBuffer(scratch, s.ReadUInt8() % sizeof(scratch));
        },
        [](auto& s) { s.Skip(s.ReadUInt32()); },
        [](auto& s) {
            CbMap<std::wstring, double> map;
            map.Serialize(s);
        },
    };
    std::mt19937 random(20240611);
    int failures = 0;
    int oversized = 0;
    std::string example;
    for (int round = 0; round < 4000; ++round) {
        Bytes bytes(random() % 48);
        for (auto& b : bytes) {
            // Mostly small values, so that counts often fit and readers go deeper.
            b = static_cast<uint8_t>(random() % 4 == 0 ? random() : random() % 3);
        }
        CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
        AllocationProbe::Arm();
        try {
            for (int step = 0; step < 8; ++step) {
                readers[random() % readers.size()](stream);
            }
        } catch (const CbException&) {
        } catch (...) {
            ++failures;
        }
        size_t largest = AllocationProbe::Disarm();
        if (largest > 4096 + 4 * bytes.size() && oversized++ == 0) {
            example = std::to_string(largest) + " bytes for " + std::to_string(bytes.size()) +
                      " bytes of input";
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(oversized, 0) << "largest allocation, e.g. " << example;
}

}  // namespace

// Wide strings take the short block path (at most 128 basic-plane characters) or the general
// one; both give the count and UTF-16 units that the encoding defines, and read back.
TEST(CbStreamBinary, WideStringsOfEveryPathEncodeAsUtf16AndRoundTrip) {
    const std::vector<std::wstring> texts = {
        L"",
        L"a",
        std::wstring(128, L'x'),
        std::wstring(129, L'y'),
        L"caf\u00e9 \u20ac",
        L"tooth \U0001F9B7",                              // two units
        std::wstring(127, L'z') + L"\U0001F600",          // short, but not basic plane
        std::wstring(1, static_cast<wchar_t>(0x110000)),  // beyond Unicode: replaced
        std::wstring(1000, L'\u00fc'),
    };
    for (const std::wstring& text : texts) {
        CbStreamWriteBinaryBuffer stream;
        stream.WriteWideString(text);
        std::vector<uint16_t> units;
        CbAppendUtf16(text, units);
        ASSERT_EQ(stream.GetCount(), 4 + 2 * units.size());
        EXPECT_EQ(CbByteOrder::load<uint32_t>(stream.GetData()), units.size());
        for (size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(CbByteOrder::load<uint16_t>(stream.GetData() + 4 + 2 * i), units[i]);
        }
        CbStreamReadBinaryBuffer read(stream.GetData(), stream.GetCount());
        EXPECT_EQ(read.ReadWideString(), CbFromUtf16(units.data(), units.size()));
        EXPECT_EQ(read.GetRemaining(), 0u);
    }
}

// Overwrite replaces written bytes only; ExpectBytes reserves without writing; a counter
// counts what a buffer holds; a stream over memory shows its bytes in place and skips
// without copying, a file stream shows none; both refuse to go past the end.
TEST(CbStreamBinary, OverwriteExpectViewAndSkip) {
    CbStreamWriteBinaryBuffer buffer;
    CbStreamWriteBinaryCounter counter;
    for (CbStreamWriteBinary* stream : {static_cast<CbStreamWriteBinary*>(&buffer),
                                        static_cast<CbStreamWriteBinary*>(&counter)}) {
        stream->ExpectBytes(uint64_t{32} << 20);
        stream->WriteUInt32(7);
        stream->WriteWideString(L"abc");
        stream->WriteDouble(2.5);
    }
    EXPECT_EQ(counter.GetCount(), buffer.GetCount());
    EXPECT_EQ(buffer.GetCount(), 4u + 4 + 6 + 8);
    EXPECT_GE(buffer.GetBuffer().capacity(), uint64_t{32} << 20);
    const uint8_t patch[4] = {1, 2, 3, 4};
    buffer.Overwrite(0, patch, 4);
    EXPECT_EQ(CbByteOrder::load<uint32_t>(buffer.GetData()), 0x04030201u);
    EXPECT_THROW(buffer.Overwrite(buffer.GetCount() - 2, patch, 4), CbException);
    EXPECT_THROW(buffer.Overwrite(uint64_t{1} << 62, patch, 1), CbException);
    EXPECT_EQ(CbByteOrder::load<uint32_t>(buffer.GetData() + 4), 3u);  // untouched

    CbStreamReadBinaryBuffer read(buffer.GetData(), buffer.GetCount());
    const uint8_t* view = read.ReadView(4);
    EXPECT_EQ(view, buffer.GetData());
    EXPECT_EQ(read.GetPosition(), 4u);
    read.Skip(10);
    EXPECT_EQ(read.ReadDouble(), 2.5);
    EXPECT_THROW(read.ReadView(1), CbException);
    EXPECT_THROW(read.Skip(1), CbException);

    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tt_stream_view_" + std::to_string(::getpid()));
    {
        // A file stream overwrites as a buffer does, also bytes still in its own buffer,
        // and goes on at the end.
        CbStreamWriteBinaryFile file(path);
        file.WriteUInt32(0);
        file.WriteBuffer(buffer.GetData() + 4, buffer.GetCount() - 4 - 8);
        file.Overwrite(0, patch, 4);
        EXPECT_THROW(file.Overwrite(file.GetCount() - 2, patch, 4), CbException);
        file.WriteDouble(2.5);
        file.Close();
        EXPECT_EQ(CbStreamReadBinaryFile::ReadAll(path), buffer.GetBuffer());
    }
    {
        CbStreamReadBinaryFile file(path);
        EXPECT_EQ(file.ReadView(4), nullptr);
        EXPECT_EQ(file.GetPosition(), 0u);
        file.Skip(14);
        EXPECT_EQ(file.ReadDouble(), 2.5);
        EXPECT_THROW(file.Skip(1), CbException);
    }
    std::filesystem::remove(path);
}
