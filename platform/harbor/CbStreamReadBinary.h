#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/harbor/CbStreamRead.h"

// Binary read stream with typed operations, the counterpart of CbStreamWriteBinary (same
// encoding). Every read is bounds-checked: reading past the end, or a count that cannot
// fit in what is left, throws CbException with a clear message and allocates nothing.
//
// Not thread-safe: one stream belongs to one reader.
class CbStreamReadBinary : public CbStreamRead {
public:
    ~CbStreamReadBinary() override = default;

    // Reads a version number. `newestKnown` is the newest version the caller can read; the
    // stored version is returned whatever it is, and the caller decides what to accept.
    virtual uint32_t ReadVersion(uint32_t newestKnown);
    // Reads a version number and returns it when `accepted` holds it; otherwise throws
    // CbExceptionWrongFileVersion with "<record>: unknown version <n>", located at the
    // caller (or at `file` and `line`). The caller's place comes from the builtins that GCC
    // and clang share: clang 14, which builds the fuzz targets, has no std::source_location
    // with the GCC 12 library.
    uint32_t ReadAcceptedVersion(std::string_view record, std::initializer_list<uint32_t> accepted,
                                 const char* file = __builtin_FILE(), int line = __builtin_LINE());
    virtual bool ReadBool();
    virtual uint8_t ReadUInt8();
    virtual uint16_t ReadUInt16();
    virtual int32_t ReadInt32();
    virtual uint32_t ReadUInt32();
    virtual int64_t ReadInt64();
    virtual uint64_t ReadUInt64();
    virtual float ReadFloat();
    virtual double ReadDouble();
    virtual std::wstring ReadWideString();
    virtual void ReadBuffer(void* data, uint64_t byteCount);
    // The next `byteCount` bytes where they lie, for streams over memory, which then move on
    // past them; null from streams that cannot show their bytes (nothing is read then), so
    // that callers fall back to ReadBuffer. The bytes stay valid as long as the memory the
    // stream reads. Throws, as a read does, when fewer bytes are left.
    virtual const uint8_t* ReadView(uint64_t byteCount);
    // The next `byteCount` bytes: where they lie when the stream can show them (ReadView),
    // otherwise read into `scratch`, which holds at least that many. Throws, as a read does,
    // when fewer bytes are left.
    const uint8_t* ReadBlock(void* scratch, uint64_t byteCount) {
        if (const uint8_t* view = ReadView(byteCount)) {
            return view;
        }
        ReadBuffer(scratch, byteCount);
        return static_cast<const uint8_t*>(scratch);
    }

    void ReadFloatArray(float* values, uint64_t count);
    void ReadUInt16Array(uint16_t* values, uint64_t count);

    // Reads an unsigned 32-bit element count and checks that `count` elements of at least
    // `minimumBytesPerElement` bytes each fit in what is left of the stream.
    uint32_t ReadCount(uint64_t minimumBytesPerElement, const char* what);
    // Throws unless `count` elements of `minimumBytesPerElement` bytes fit in what is left.
    void RequireRemaining(uint64_t count, uint64_t minimumBytesPerElement, const char* what) const;
    // Skips `byteCount` bytes.
    void Skip(uint64_t byteCount);

private:
    template <class T>
    T readLittleEndian();
};
