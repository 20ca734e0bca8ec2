#include "platform/lattice/CyUniqueID.h"

#include <uuid/uuid.h>

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStringConversion.h"

namespace {

// Fresh IDs are random (version 4) UUIDs from a per-thread generator seeded by the
// operating system's random source. libuuid's own generator reseeds on every call, which
// makes creating nodes by the hundred thousand slow. A forked child reseeds, so that it
// does not repeat its parent's IDs.
std::atomic<uint64_t> g_forkGeneration{0};

void onFork() {
    g_forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

class IdGenerator {
public:
    void Fill(CyUniqueID::Bytes& bytes) {
        uint64_t generation = g_forkGeneration.load(std::memory_order_relaxed);
        if (!m_seeded || generation != m_generation) {
            seed();
            m_generation = generation;
        }
        uint64_t high = m_engine();
        uint64_t low = m_engine();
        std::memcpy(bytes.data(), &high, 8);
        std::memcpy(bytes.data() + 8, &low, 8);
        bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
        bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    }

private:
    void seed() {
        static std::once_flag registered;
        std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, &onFork); });
        std::random_device device;
        std::seed_seq sequence{device(), device(), device(), device(),
                               device(), device(), device(), device()};
        m_engine.seed(sequence);
        m_seeded = true;
    }

    std::mt19937_64 m_engine;
    bool m_seeded = false;
    uint64_t m_generation = 0;
};

}  // namespace

CyUniqueID::CyUniqueID() {
    thread_local IdGenerator generator;
    generator.Fill(m_bytes);
}

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

bool CyUniqueID::IsValid() const {
    return *this != GetInvalidID();
}

std::wstring CyUniqueID::ToString() const {
    // The 8-4-4-4-12 form, two lowercase hexadecimal digits per byte (what
    // uuid_unparse_lower gives, without its formatted printing).
    static constexpr char c_digits[] = "0123456789abcdef";
    std::wstring text(36, L'-');
    size_t at = 0;
    for (size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            ++at;  // the dash already there
        }
        text[at++] = static_cast<wchar_t>(c_digits[m_bytes[i] >> 4]);
        text[at++] = static_cast<wchar_t>(c_digits[m_bytes[i] & 0xF]);
    }
    return text;
}

void CyUniqueID::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteBuffer(m_bytes.data(), m_bytes.size());
}

void CyUniqueID::Serialize(CbStreamReadBinary& stream) {
    stream.ReadBuffer(m_bytes.data(), m_bytes.size());
}

size_t CyUniqueID::Hash() const {
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, m_bytes.data(), 8);
    std::memcpy(&b, m_bytes.data() + 8, 8);
    // Random IDs are uniform already; the multiplication spreads structured ones.
    return static_cast<size_t>((a ^ (b * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull);
}
