#include "platform/lattice/CyUniqueID.h"

#include <uuid/uuid.h>

#include <cstring>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStringConversion.h"

CyUniqueID::CyUniqueID() { uuid_generate_random(m_bytes.data()); }

CyUniqueID::CyUniqueID(const std::wstring& text) : m_bytes{} {
    if (!TryParse(text, *this)) {
        CB_THROW(CbException, "not a unique ID: '" + CbToUtf8(text) + "'");
    }
}

CyUniqueID CyUniqueID::FromBytes(const Bytes& bytes) {
    CyUniqueID id{NoInit{}};
    id.m_bytes = bytes;
    return id;
}

bool CyUniqueID::TryParse(const std::wstring& text, CyUniqueID& id) {
    // uuid_parse wants exactly 36 ASCII characters.
    if (text.size() != 36) {
        return false;
    }
    char narrow[37];
    for (size_t i = 0; i < 36; ++i) {
        if (text[i] < 0 || text[i] > 127) {
            return false;
        }
        narrow[i] = static_cast<char>(text[i]);
    }
    narrow[36] = '\0';
    Bytes bytes;
    if (uuid_parse(narrow, bytes.data()) != 0) {
        return false;
    }
    id.m_bytes = bytes;
    return true;
}

const CyUniqueID& CyUniqueID::GetInvalidID() {
    static const CyUniqueID invalid{NoInit{}};
    return invalid;
}

bool CyUniqueID::IsValid() const { return *this != GetInvalidID(); }

std::wstring CyUniqueID::ToString() const {
    char narrow[37];
    uuid_unparse_lower(m_bytes.data(), narrow);
    return std::wstring(narrow, narrow + 36);
}

void CyUniqueID::Serialize(CbStreamWriteBinary& stream) const { stream.WriteBuffer(m_bytes.data(), m_bytes.size()); }

void CyUniqueID::Serialize(CbStreamReadBinary& stream) { stream.ReadBuffer(m_bytes.data(), m_bytes.size()); }

size_t CyUniqueID::Hash() const {
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, m_bytes.data(), 8);
    std::memcpy(&b, m_bytes.data() + 8, 8);
    // Random IDs are uniform already; the multiplication spreads structured ones.
    return static_cast<size_t>((a ^ (b * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull);
}
