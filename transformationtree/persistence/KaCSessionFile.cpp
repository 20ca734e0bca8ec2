#include "transformationtree/persistence/KaCSessionFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform/granary/KaCSurfelMemoryPool.h"
#include "platform/harbor/CbAtomicFileWriter.h"
#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbCrc32.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
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

// CRC-32 (zlib's) of `size` bytes, continuing `crc` (the CRC of the bytes before them).
uint32_t checksum(const uint8_t* data, uint64_t size, uint32_t crc = 0) {
    return CbCrc32::Compute(data, size, crc);
}

// Writes a section whose payload `write` writes into `file`: the section header is written
// first with room for the length and the checksum, which are filled in once the payload
// is in place, so that the payload goes into the file's buffer directly.
template <class Write>
void writeSection(CbStreamWriteBinaryBuffer& file, uint32_t type, Write write) {
    const uint64_t header = file.GetCount();
    const unsigned char placeholder[c_sectionHeaderBytes] = {};
    file.WriteBuffer(placeholder, sizeof(placeholder));
    write(file);
    const uint64_t size = file.GetCount() - header - c_sectionHeaderBytes;
    unsigned char fields[c_sectionHeaderBytes];
    CbByteOrder::store(fields, type);
    CbByteOrder::store(fields + 4, size);
    const uint32_t crc = checksum(file.GetData() + header + c_sectionHeaderBytes, size,
                                  checksum(fields, c_sectionFieldBytes));
    CbByteOrder::store(fields + c_sectionFieldBytes, crc);
    file.Overwrite(header, fields, sizeof(fields));
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

void encodeProperties(CbStreamWriteBinary& stream, const KaCSessionFile::Properties& properties) {
    stream.WriteUInt32(static_cast<uint32_t>(properties.size()));
    for (const auto& [key, value] : properties) {
        stream.WriteWideString(key);
        stream.WriteWideString(value);
    }
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
    Container(const uint8_t* bytes, uint64_t size)
        : m_bytes(bytes), m_size(size), m_stream(bytes, size) {}

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
        if (m_size < sizeof(c_magic) || std::memcmp(m_bytes, c_magic, sizeof(c_magic)) != 0) {
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
        if (checked && m_stream.ReadUInt32() != checksum(m_bytes, c_headerBytes)) {
            corrupt("header checksum mismatch");
        }
        m_stream.RequireRemaining(count, c_sectionHeaderBytes, "section");
        return count;
    }

    [[noreturn]] void truncatedHeader() const {
        corrupt("truncated header (" + std::to_string(m_size) + " bytes)");
    }

    // Reads and checks section `index`; returns its type and payload.
    std::pair<uint32_t, Section> readSection(uint32_t index) {
        const std::string which = "section " + std::to_string(index);
        if (m_stream.GetRemaining() < c_sectionHeaderBytes) {
            corrupt("truncated header of " + which);
        }
        const uint8_t* fields = m_bytes + m_stream.GetPosition();
        const uint32_t type = m_stream.ReadUInt32();
        const uint64_t size = m_stream.ReadUInt64();
        const uint32_t expected = m_stream.ReadUInt32();
        if (size > m_stream.GetRemaining()) {
            corrupt(which + " is truncated (" + std::to_string(size) + " bytes announced, " +
                    std::to_string(m_stream.GetRemaining()) + " left)");
        }
        const uint8_t* payload = m_bytes + m_stream.GetPosition();
        const uint32_t start = m_version == KaCSessionFile::c_firstFormatVersion
                                   ? 0
                                   : checksum(fields, c_sectionFieldBytes);
        if (checksum(payload, size, start) != expected) {
            corrupt("checksum mismatch in " + which + " (type " + std::to_string(type) + ")");
        }
        m_stream.Skip(size);
        return {type, Section{payload, size}};
    }

    const uint8_t* m_bytes;
    uint64_t m_size;
    CbStreamReadBinaryBuffer m_stream;
    uint32_t m_version = 0;
};

// The whole content of a file, read straight into memory of the surfel memory pool: a
// session file is about as large as the surfel arrays read from it, and the pool hands out
// such blocks on huge pages and keeps freed ones for reuse, so that reading a file does not
// first-touch (and zero) fresh pages for its bytes as a std::vector would.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& path) : m_path(path) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            fail("cannot open file");
        }
        try {
            struct stat info {};
            if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
                CB_THROW(CbException, "not a regular file: '" + path.string() + "'");
            }
            m_size = static_cast<uint64_t>(info.st_size);
            m_data = static_cast<uint8_t*>(KaCSurfelMemoryPool::GetInstance().Allocate(m_size));
            uint64_t done = 0;
            while (done < m_size) {
                const ssize_t got = ::read(descriptor, m_data + done, m_size - done);
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got < 0) {
                    fail("cannot read file");
                }
                if (got == 0) {
                    CB_THROW(CbException, "truncated file '" + path.string() +
                                              "': " + std::to_string(m_size) + " bytes expected, " +
                                              std::to_string(done) + " read");
                }
                done += static_cast<uint64_t>(got);
            }
        } catch (...) {
            ::close(descriptor);
            release();
            throw;
        }
        ::close(descriptor);
    }
    ~FileBytes() { release(); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    const uint8_t* Data() const { return m_data; }
    uint64_t Size() const { return m_size; }

private:
    [[noreturn]] void fail(const char* what) const {
        CB_THROW(CbException,
                 std::string(what) + " '" + m_path.string() + "': " + std::strerror(errno));
    }
    void release() noexcept {
        if (m_data != nullptr) {
            KaCSurfelMemoryPool::GetInstance().Deallocate(m_data, m_size);
            m_data = nullptr;
        }
    }

    std::filesystem::path m_path;
    uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
};

KaCSessionFile::Contents readContents(const uint8_t* bytes, uint64_t size, bool registerNodes) {
    const std::map<uint32_t, Section> sections = Container(bytes, size).Read();
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
    // One buffer for the whole file: the tree record is written into its section directly
    // (the serializer tells the buffer how much room it needs), and each section's length
    // and checksum are filled in after its payload.
    CbStreamWriteBinaryBuffer file;
    file.WriteBuffer(c_magic, sizeof(c_magic));
    file.WriteUInt32(c_formatVersion);
    file.WriteUInt32(2);
    file.WriteUInt32(checksum(file.GetData(), c_headerBytes));
    writeSection(file, c_treeSection, [&](CbStreamWriteBinaryBuffer& stream) {
        KaCTransformationTreeSerializer::Write(stream, root);
    });
    writeSection(file, c_propertiesSection,
                 [&](CbStreamWriteBinaryBuffer& stream) { encodeProperties(stream, properties); });
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
    const FileBytes bytes(path);
    return within("session file '" + path.string() + "'",
                  [&] { return readContents(bytes.Data(), bytes.Size(), registerNodes); });
}

KaCSessionFile::Contents KaCSessionFile::ReadFromMemory(const std::vector<uint8_t>& bytes,
                                                        const std::string& name,
                                                        bool registerNodes) {
    return within("session file '" + name + "'",
                  [&] { return readContents(bytes.data(), bytes.size(), registerNodes); });
}
