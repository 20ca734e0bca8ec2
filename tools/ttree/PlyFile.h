#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/granary/KaCSurfelCollectionCCT.h"

// Point clouds in the PLY format. Reading takes ASCII, binary little-endian and binary
// big-endian files whose vertex element has x, y, z and optionally nx, ny, nz, red, green,
// blue (bytes, or floats from 0 to 1) and quality (or confidence); other scalar properties
// are skipped. Other elements (faces, for instance) that hold items, and list properties
// of vertices, are refused. Writing produces binary little-endian files with position, normal,
// colour and quality, replacing an existing file all at once (OutputFile): on any fault the
// old file stays as it was.
//
// Every fault (malformed header, unsupported element or property, short file, bad number)
// throws CbException naming the file and what is wrong; counts are checked against the
// file's size before anything is allocated for them. The surfel arrays are then allocated
// once for the vertex count (24 bytes a vertex: at most 8 times the file's size, for
// binary records of three bytes; 4 times for ASCII files, whose values take at least two
// bytes each) and filled in file order. A vertex whose position or normal is not finite as
// a float (nan, inf, or beyond the float range) is invalid: the file is refused with the
// number of invalid vertices and the index of the first, or they are left out. For a
// binary file that reads without invalid vertices in the other byte order, the message
// says that the format line is probably wrong. Stateless and thread-safe.
class PlyFile {
public:
    enum EEncoding { eAscii, eBinaryLittleEndian, eBinaryBigEndian };
    enum EInvalidVertices { eRefuseInvalid, eDropInvalid };

    // With eDropInvalid, `*dropped` (when given) receives the number of vertices left out.
    static CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::filesystem::path& path,
                                                       EInvalidVertices invalid = eRefuseInvalid,
                                                       uint64_t* dropped = nullptr);
    // `name` names the source in error messages.
    static CbSmartPointer<KaCSurfelCollectionCCT> ReadFromMemory(
        const std::vector<uint8_t>& bytes, const std::string& name,
        EInvalidVertices invalid = eRefuseInvalid, uint64_t* dropped = nullptr);

    static void Write(const std::filesystem::path& path, const KaCSurfelContainer& surfels);
    static std::vector<uint8_t> Encode(const KaCSurfelContainer& surfels, EEncoding encoding);
};
