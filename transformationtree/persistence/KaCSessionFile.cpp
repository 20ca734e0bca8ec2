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
#include "platform/harbor/CbStreamWriteBinaryFile.h"
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

void encodeProperties(CbStreamWriteBinary& stream, const KaCSessionFile::Properties& properties) {
    stream.WriteUInt32(static_cast<uint32_t>(properties.size()));
    for (const auto& [key, value] : properties) {
        stream.WriteWideString(key);
        stream.WriteWideString(value);
    }
}

// A section on its way into `Target` (a buffer or a file stream): the header goes first
// with room for the length and the checksum, which Finish fills in. The payload is gathered
// in chunks that stay in the cache while their checksum is taken and they are handed on,
// so no copy of a whole file is built for a file and no checksum rereads cold memory; large
// writes bypass the chunk. The checksum covers type and length before the payload, which
// are known only at the end: the payload's own checksum is combined with theirs.
template <class Target>
class SectionWriter final : public CbStreamWriteBinary {
public:
    SectionWriter(Target& target, uint32_t type, std::vector<uint8_t>& chunk)
        : m_target(target), m_type(type), m_header(target.GetCount()), m_chunk(chunk) {
        const unsigned char placeholder[c_sectionHeaderBytes] = {};
        m_target.WriteBuffer(placeholder, sizeof(placeholder));
        m_chunk.resize(c_chunkBytes);
    }

    void WriteBytes(const void* data, uint64_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(data);
        m_size += count;
        if (m_used + count > m_chunk.size()) {
            handOn();
            if (count >= m_chunk.size()) {
                pass(bytes, count);
                return;
            }
        }
        std::memcpy(m_chunk.data() + m_used, bytes, count);
        m_used += count;
    }
    uint64_t GetCount() const override { return m_size; }
    void ExpectBytes(uint64_t byteCount) override { m_target.ExpectBytes(byteCount); }

    // Hands on what is left and fills in the header.
    void Finish() {
        handOn();
        unsigned char fields[c_sectionHeaderBytes];
        CbByteOrder::store(fields, m_type);
        CbByteOrder::store(fields + 4, m_size);
        const uint32_t crc = CbCrc32::Combine(checksum(fields, c_sectionFieldBytes), m_crc, m_size);
        CbByteOrder::store(fields + c_sectionFieldBytes, crc);
        m_target.Overwrite(m_header, fields, sizeof(fields));
    }

private:
    // Large enough that the target sees few calls, small enough to stay in the cache.
    static constexpr size_t c_chunkBytes = size_t{1} << 20;

    void handOn() {
        pass(m_chunk.data(), m_used);
        m_used = 0;
    }
    void pass(const uint8_t* bytes, uint64_t count) {
        m_crc = checksum(bytes, count, m_crc);
        m_target.WriteBuffer(bytes, count);
    }

    Target& m_target;
    const uint32_t m_type;
    const uint64_t m_header;
    std::vector<uint8_t>& m_chunk;
    uint64_t m_used = 0;
    uint64_t m_size = 0;
    uint32_t m_crc = 0;  // of the payload alone
};

// The whole container into `file`; both sections pass through one chunk.
template <class Target>
void encodeInto(Target& file, const CbSmartPointer<const KaCTransformationNodeInner>& root,
                const KaCSessionFile::Properties& properties) {
    unsigned char header[c_headerBytes + 4];
    std::memcpy(header, c_magic, sizeof(c_magic));
    CbByteOrder::store(header + sizeof(c_magic), KaCSessionFile::c_formatVersion);
    CbByteOrder::store(header + sizeof(c_magic) + 4, uint32_t{2});
    CbByteOrder::store(header + c_headerBytes, checksum(header, c_headerBytes));
    file.WriteBuffer(header, sizeof(header));
    std::vector<uint8_t> chunk;
    SectionWriter<Target> tree(file, KaCSessionFile::c_treeSection, chunk);
    KaCTransformationTreeSerializer::Write(tree, root);
    tree.Finish();
    SectionWriter<Target> text(file, KaCSessionFile::c_propertiesSection, chunk);
    encodeProperties(text, properties);
    text.Finish();
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
    CbStreamWriteBinaryBuffer file;
    encodeInto(file, root, properties);
    return file.TakeBuffer();
}

uint64_t KaCSessionFile::Write(CbStreamWriteBinaryFile& file,
                               CbSmartPointer<const KaCTransformationNodeInner> root,
                               const Properties& properties) {
    const uint64_t start = file.GetCount();
    encodeInto(file, root, properties);
    return file.GetCount() - start;
}

uint64_t KaCSessionFile::Write(const std::filesystem::path& path,
                               CbSmartPointer<const KaCTransformationNodeInner> root,
                               const Properties& properties) {
    return CbAtomicFileWriter::Write(
        path, [&](CbStreamWriteBinaryFile& file) { Write(file, root, properties); });
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
