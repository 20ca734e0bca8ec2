#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/harbor/CbHashKey.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A 128-bit unique identifier (a UUID). Default construction yields a fresh random
// (version 4) identifier, different from every other; the invalid ID is the all-zero one, whose
// text form is "00000000-0000-0000-0000-000000000000". The text form is the lowercase 8-4-4-4-12
// hexadecimal form; parsing accepts either case.
//
// A plain value; thread-safe as values are.
class CyUniqueID {
public:
    using Bytes = std::array<uint8_t, 16>;

    CyUniqueID();
    // Parses the text form; throws CbException for text that is not one.
    explicit CyUniqueID(const std::wstring& text);
    static CyUniqueID FromBytes(const Bytes& bytes);
    // The ID whose 16 bytes, in GetBytes order, lie at `bytes`.
    static CyUniqueID FromBytes(const uint8_t* bytes) {
        CyUniqueID id{NoInit{}};
        std::memcpy(id.m_bytes.data(), bytes, id.m_bytes.size());
        return id;
    }
    // Parses without throwing; false for text that is not a text form.
    [[nodiscard]] static bool TryParse(const std::wstring& text, CyUniqueID& id);

    static const CyUniqueID& GetInvalidID();
    bool IsValid() const;

    std::wstring ToString() const;
    explicit operator std::wstring() const { return ToString(); }
    const Bytes& GetBytes() const { return m_bytes; }

    bool operator==(const CyUniqueID& other) const {
        // Two 8-byte comparisons, inline: IDs are compared in every map lookup.
        uint64_t a[2];
        uint64_t b[2];
        std::memcpy(a, m_bytes.data(), 16);
        std::memcpy(b, other.m_bytes.data(), 16);
        return ((a[0] ^ b[0]) | (a[1] ^ b[1])) == 0;
    }
    bool operator<(const CyUniqueID& other) const { return m_bytes < other.m_bytes; }

    // Stream form: the 16 bytes as they are.
    void Serialize(CbStreamWriteBinary& stream) const;
    void Serialize(CbStreamReadBinary& stream);

    size_t Hash() const;

private:
    struct NoInit {};
    explicit CyUniqueID(NoInit) : m_bytes{} {}

    Bytes m_bytes;
};

template <>
struct CbHashKey<CyUniqueID> {
    static size_t Compute(const CyUniqueID& key) { return key.Hash(); }
};

template <>
struct std::hash<CyUniqueID> {
    size_t operator()(const CyUniqueID& id) const noexcept { return id.Hash(); }
};
