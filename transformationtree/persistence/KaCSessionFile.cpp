#include "transformationtree/persistence/KaCSessionFile.h"

#include <zlib.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform/harbor/CbAtomicFileWriter.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

constexpr char c_magic[8] = {'T', 'T', 'R', 'E', 'E', 'S', 'E', 'S'};
// Magic, version and section count: what the header checksum covers.
constexpr uint64_t c_headerBytes = sizeof(c_magic) + 4 + 4;
// Section type and length: what a section checksum covers besides the payload.
constexpr uint64_t c_sectionFieldBytes = 4 + 8;
// Section type, length and checksum.
constexpr uint64_t c_sectionHeaderBytes = c_sectionFieldBytes + 4;

// CRC-32 of `size` bytes, continuing `crc` (the CRC of the bytes before them).
uint32_t checksum(const uint8_t* data, uint64_t size, uint32_t crc = 0) {
    uLong value = crc;
    while (size > 0) {
        uInt chunk = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        value = crc32(value, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<uint32_t>(value);
}

void writeSection(CbStreamWriteBinary& stream, uint32_t type, const std::vector<uint8_t>& payload) {
    CbStreamWriteBinaryBuffer fields;
    fields.WriteUInt32(type);
    fields.WriteUInt64(payload.size());
    stream.WriteBuffer(fields.GetData(), fields.GetCount());
    stream.WriteUInt32(
        checksum(payload.data(), payload.size(), checksum(fields.GetData(), fields.GetCount())));
    stream.WriteBuffer(payload.data(), payload.size());
}

[[noreturn]] void corrupt(const std::string& what) {
    CB_THROW(CbException, what);
}

// Runs `read`; a CbException it throws is thrown again with `context` before its message,
// an unknown version still as CbExceptionWrongFileVersion.
template <class Read>
auto within(const std::string& context, Read read) -> decltype(read()) {
    try {
        return read();
    } catch (const CbExceptionWrongFileVersion& problem) {
        throw CbExceptionWrongFileVersion(__FILE__, __LINE__,
                                          context + ": " + problem.GetMessage());
    } catch (const CbException& problem) {
        CB_THROW(CbException, context + ": " + problem.GetMessage());
    }
}

std::vector<uint8_t> encodeProperties(const KaCSessionFile::Properties& properties) {
    CbStreamWriteBinaryBuffer stream;
    stream.WriteUInt32(static_cast<uint32_t>(properties.size()));
    for (const auto& [key, value] : properties) {
        stream.WriteWideString(key);
        stream.WriteWideString(value);
    }
    return stream.TakeBuffer();
}

struct Section {
    const uint8_t* payload = nullptr;
    uint64_t size = 0;
};

// Throws unless nothing is left after `what`.
void requireEnd(uint64_t left, const char* what) {
    if (left != 0) {
        corrupt(std::to_string(left) + (left == 1 ? " byte" : " bytes") + " after the " + what);
    }
}

KaCSessionFile::Properties decodeProperties(const Section& section) {
    CbStreamReadBinaryBuffer stream(section.payload, section.size);
    KaCSessionFile::Properties properties;
    uint32_t count = stream.ReadCount(8, "property");
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring key = stream.ReadWideString();
        if (!properties.emplace(key, stream.ReadWideString()).second) {
            corrupt("a property key appears twice");
        }
    }
    requireEnd(stream.GetRemaining(), "properties");
    return properties;
}

CbSmartPointer<KaCTransformationNodeInner> decodeTree(const Section& section) {
    CbStreamReadBinaryBuffer stream(section.payload, section.size);
    CbSmartPointer<KaCTransformationNodeInner> root =
        KaCTransformationTreeSerializer::Read(stream, false);
    requireEnd(stream.GetRemaining(), "tree");
    return root;
}

// The container: checks the header, every section's length and checksum, that no section
// type repeats and that nothing follows the last section, and lists the sections by type.
class Container {
public:
    explicit Container(const std::vector<uint8_t>& bytes)
        : m_bytes(bytes), m_stream(bytes.data(), bytes.size()) {}

    std::map<uint32_t, Section> Read() {
        const uint32_t count = readHeader();
        std::map<uint32_t, Section> sections;
        for (uint32_t i = 0; i < count; ++i) {
            const auto [type, section] = readSection(i);
            if (!sections.emplace(type, section).second) {
                corrupt("section type " + std::to_string(type) + " appears twice");
            }
        }
        requireEnd(m_stream.GetRemaining(), "last section");
        return sections;
    }

private:
    uint32_t readHeader() {
        if (m_bytes.size() < sizeof(c_magic) ||
            std::memcmp(m_bytes.data(), c_magic, sizeof(c_magic)) != 0) {
            corrupt("not a session file (no session magic)");
        }
        m_stream.Skip(sizeof(c_magic));
        if (m_stream.GetRemaining() < 4) {
            truncatedHeader();
        }
        m_version = m_stream.ReadAcceptedVersion(
            "format", {KaCSessionFile::c_firstFormatVersion, KaCSessionFile::c_formatVersion});
        const bool checked = m_version != KaCSessionFile::c_firstFormatVersion;
        if (m_stream.GetRemaining() < (checked ? 8u : 4u)) {
            truncatedHeader();
        }
        const uint32_t count = m_stream.ReadUInt32();
        if (checked && m_stream.ReadUInt32() != checksum(m_bytes.data(), c_headerBytes)) {
            corrupt("header checksum mismatch");
        }
        m_stream.RequireRemaining(count, c_sectionHeaderBytes, "section");
        return count;
    }

    [[noreturn]] void truncatedHeader() const {
        corrupt("truncated header (" + std::to_string(m_bytes.size()) + " bytes)");
    }

    // Reads and checks section `index`; returns its type and payload.
    std::pair<uint32_t, Section> readSection(uint32_t index) {
        const std::string which = "section " + std::to_string(index);
        if (m_stream.GetRemaining() < c_sectionHeaderBytes) {
            corrupt("truncated header of " + which);
        }
        const uint8_t* fields = m_bytes.data() + m_stream.GetPosition();
        const uint32_t type = m_stream.ReadUInt32();
        const uint64_t size = m_stream.ReadUInt64();
        const uint32_t expected = m_stream.ReadUInt32();
        if (size > m_stream.GetRemaining()) {
            corrupt(which + " is truncated (" + std::to_string(size) + " bytes announced, " +
                    std::to_string(m_stream.GetRemaining()) + " left)");
        }
        const uint8_t* payload = m_bytes.data() + m_stream.GetPosition();
        const uint32_t start = m_version == KaCSessionFile::c_firstFormatVersion
                                   ? 0
                                   : checksum(fields, c_sectionFieldBytes);
        if (checksum(payload, size, start) != expected) {
            corrupt("checksum mismatch in " + which + " (type " + std::to_string(type) + ")");
        }
        m_stream.Skip(size);
        return {type, Section{payload, size}};
    }

    const std::vector<uint8_t>& m_bytes;
    CbStreamReadBinaryBuffer m_stream;
    uint32_t m_version = 0;
};

KaCSessionFile::Contents readContents(const std::vector<uint8_t>& bytes, bool registerNodes) {
    const std::map<uint32_t, Section> sections = Container(bytes).Read();
    const auto tree = sections.find(KaCSessionFile::c_treeSection);
    if (tree == sections.end()) {
        corrupt("no tree section");
    }
    KaCSessionFile::Contents contents;
    const auto properties = sections.find(KaCSessionFile::c_propertiesSection);
    if (properties != sections.end()) {
        contents.properties =
            within("properties", [&] { return decodeProperties(properties->second); });
    }
    contents.root = within("tree", [&] { return decodeTree(tree->second); });
    if (registerNodes) {
        KaCTransformationNodeManager::GetInstance().RegisterSubtree(contents.root);
    }
    return contents;
}

}  // namespace

std::vector<uint8_t> KaCSessionFile::Encode(CbSmartPointer<const KaCTransformationNodeInner> root,
                                            const Properties& properties) {
    CbStreamWriteBinaryBuffer tree;
    KaCTransformationTreeSerializer::Write(tree, root);
    CbStreamWriteBinaryBuffer file(tree.GetCount() + 4096);
    file.WriteBuffer(c_magic, sizeof(c_magic));
    file.WriteUInt32(c_formatVersion);
    file.WriteUInt32(2);
    file.WriteUInt32(checksum(file.GetData(), c_headerBytes));
    writeSection(file, c_treeSection, tree.GetBuffer());
    writeSection(file, c_propertiesSection, encodeProperties(properties));
    return file.TakeBuffer();
}

uint64_t KaCSessionFile::Write(const std::filesystem::path& path,
                               CbSmartPointer<const KaCTransformationNodeInner> root,
                               const Properties& properties) {
    const std::vector<uint8_t> bytes = Encode(root, properties);
    return CbAtomicFileWriter::Write(path, bytes.data(), bytes.size());
}

KaCSessionFile::Contents KaCSessionFile::Read(const std::filesystem::path& path,
                                              bool registerNodes) {
    return ReadFromMemory(CbStreamReadBinaryFile::ReadAll(path), path.string(), registerNodes);
}

KaCSessionFile::Contents KaCSessionFile::ReadFromMemory(const std::vector<uint8_t>& bytes,
                                                        const std::string& name,
                                                        bool registerNodes) {
    return within("session file '" + name + "'",
                  [&] { return readContents(bytes, registerNodes); });
}
