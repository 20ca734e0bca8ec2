#include "transformationtree/persistence/KaCSessionFile.h"

#include <zlib.h>

#include <cstring>

#include "platform/harbor/CbAtomicFileWriter.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStringConversion.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

constexpr char c_magic[8] = {'T', 'T', 'R', 'E', 'E', 'S', 'E', 'S'};
// Section type, length and checksum.
constexpr uint64_t c_sectionHeaderBytes = 4 + 8 + 4;

uint32_t checksum(const uint8_t* data, uint64_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt chunk = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<uint32_t>(crc);
}

void writeSection(CbStreamWriteBinary& stream, uint32_t type, const std::vector<uint8_t>& payload) {
    stream.WriteUInt32(type);
    stream.WriteUInt64(payload.size());
    stream.WriteUInt32(checksum(payload.data(), payload.size()));
    stream.WriteBuffer(payload.data(), payload.size());
}

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    CB_THROW(CbException, "session file '" + name + "': " + what);
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

KaCSessionFile::Properties decodeProperties(const uint8_t* data, uint64_t size) {
    CbStreamReadBinaryBuffer stream(data, size);
    KaCSessionFile::Properties properties;
    uint32_t count = stream.ReadCount(8, "property");
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring key = stream.ReadWideString();
        properties[key] = stream.ReadWideString();
    }
    return properties;
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
    CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    if (bytes.size() < sizeof(c_magic) + 8 ||
        std::memcmp(bytes.data(), c_magic, sizeof(c_magic)) != 0) {
        fail(name, "not a session file (no session magic)");
    }
    stream.Skip(sizeof(c_magic));
    stream.ReadAcceptedVersion("session file '" + name + "'", {c_formatVersion});
    uint32_t sections = stream.ReadCount(c_sectionHeaderBytes, "section");
    const uint8_t* tree = nullptr;
    uint64_t treeSize = 0;
    Contents contents;
    for (uint32_t i = 0; i < sections; ++i) {
        if (stream.GetRemaining() < c_sectionHeaderBytes) {
            fail(name, "truncated section header");
        }
        uint32_t type = stream.ReadUInt32();
        uint64_t size = stream.ReadUInt64();
        uint32_t expected = stream.ReadUInt32();
        if (size > stream.GetRemaining()) {
            fail(name, "section " + std::to_string(i) + " is truncated (" + std::to_string(size) +
                           " bytes announced, " + std::to_string(stream.GetRemaining()) + " left)");
        }
        const uint8_t* payload = bytes.data() + stream.GetPosition();
        if (checksum(payload, size) != expected) {
            fail(name, "checksum mismatch in section " + std::to_string(i) + " (type " +
                           std::to_string(type) + ")");
        }
        stream.Skip(size);
        if (type == c_treeSection) {
            tree = payload;
            treeSize = size;
        } else if (type == c_propertiesSection) {
            try {
                contents.properties = decodeProperties(payload, size);
            } catch (const CbException& problem) {
                fail(name, std::string("properties: ") + problem.what());
            }
        }
    }
    if (tree == nullptr) {
        fail(name, "no tree section");
    }
    CbStreamReadBinaryBuffer treeStream(tree, treeSize);
    try {
        contents.root = KaCTransformationTreeSerializer::Read(treeStream, false);
    } catch (const CbExceptionWrongFileVersion&) {
        throw;
    } catch (const CbException& problem) {
        fail(name, std::string("tree: ") + problem.what());
    }
    if (treeStream.GetRemaining() != 0) {
        fail(name, "the tree section holds bytes after the tree");
    }
    if (registerNodes) {
        KaCTransformationNodeManager::GetInstance().RegisterSubtree(contents.root);
    }
    return contents;
}
