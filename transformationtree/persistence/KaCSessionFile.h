#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbStreamWriteBinaryFile.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// A scan session on disk: the whole tree (structure, models, attributes) and a few text
// properties, in a small container of checksummed sections (docs/FILE_FORMAT.md):
//
//   magic "TTREESES" (8 bytes), format version (u32, 2), section count (u32), CRC-32 of
//   these 16 bytes (u32); then per section: type (u32), payload byte count (u64), CRC-32 of
//   the type, the byte count and the payload (u32), payload; nothing after the last section.
//
// Every byte of the file is covered by a checksum. Version 1 files, which are still read,
// have no header checksum and their section checksums cover the payload only.
//
// Section 1 holds the tree record (KaCTransformationTreeSerializer), section 2 the
// properties (a count, then key and value wide strings). Unknown section types are
// skipped, so later versions can add sections that older readers ignore; no type may
// appear twice, and each known section must be read to its last byte.
//
// Writing is atomic (CbAtomicFileWriter): a crash or a kill never leaves a half-written
// session where a good one was, nor a temporary file. Reading checks the magic, the
// version, every checksum and length before it parses anything, and then reads the tree
// all or nothing; every fault throws CbException (CbExceptionWrongFileVersion for an unknown
// version) whose message starts with "session file '<name>': ".
//
// Not synchronised: the tree must not change while it is written.
class KaCSessionFile {
public:
    static constexpr uint32_t c_formatVersion = 2;
    // The first version, still read: no header checksum, section checksums over the payload.
    static constexpr uint32_t c_firstFormatVersion = 1;
    static constexpr uint32_t c_treeSection = 1;
    static constexpr uint32_t c_propertiesSection = 2;

    using Properties = std::map<std::wstring, std::wstring>;

    struct Contents {
        CbSmartPointer<KaCTransformationNodeInner> root;
        Properties properties;
    };

    // Writes the session; returns the number of bytes written. The file is written as it is
    // encoded, in chunks of a quarter MiB: no copy of the whole file is held in memory.
    static uint64_t Write(const std::filesystem::path& path,
                          CbSmartPointer<const KaCTransformationNodeInner> root,
                          const Properties& properties = {});
    // The same into an open file stream, from its current end, without syncing or closing it
    // (for callers that make the file whole themselves).
    static uint64_t Write(CbStreamWriteBinaryFile& file,
                          CbSmartPointer<const KaCTransformationNodeInner> root,
                          const Properties& properties = {});
    // Reads a session; with `registerNodes` its nodes are registered with the node manager.
    static Contents Read(const std::filesystem::path& path, bool registerNodes = true);
    // The same from bytes in memory; `name` names the source in error messages.
    static Contents ReadFromMemory(const std::vector<uint8_t>& bytes, const std::string& name,
                                   bool registerNodes);
    // The container as bytes.
    static std::vector<uint8_t> Encode(CbSmartPointer<const KaCTransformationNodeInner> root,
                                       const Properties& properties);
};
