#include "tools/ttree/PlyFile.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaCSurfelKernels.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "tools/ttree/OutputFile.h"

namespace {

constexpr size_t c_maxHeaderBytes = 1 << 16;

[[noreturn]] void fail(const std::string& name, const std::string& what) {
    CB_THROW(CbException, "PLY file '" + name + "': " + what);
}

enum class Scalar { eInt8, eUInt8, eInt16, eUInt16, eInt32, eUInt32, eFloat32, eFloat64 };

std::optional<Scalar> scalarNamed(const std::string& type) {
    static const std::pair<const char*, Scalar> names[] = {
        {"char", Scalar::eInt8},      {"int8", Scalar::eInt8},       {"uchar", Scalar::eUInt8},
        {"uint8", Scalar::eUInt8},    {"short", Scalar::eInt16},     {"int16", Scalar::eInt16},
        {"ushort", Scalar::eUInt16},  {"uint16", Scalar::eUInt16},   {"int", Scalar::eInt32},
        {"int32", Scalar::eInt32},    {"uint", Scalar::eUInt32},     {"uint32", Scalar::eUInt32},
        {"float", Scalar::eFloat32},  {"float32", Scalar::eFloat32}, {"double", Scalar::eFloat64},
        {"float64", Scalar::eFloat64}};
    for (const auto& [text, scalar] : names) {
        if (type == text) {
            return scalar;
        }
    }
    return std::nullopt;
}

size_t sizeOf(Scalar scalar) {
    switch (scalar) {
        case Scalar::eInt8:
        case Scalar::eUInt8:
            return 1;
        case Scalar::eInt16:
        case Scalar::eUInt16:
            return 2;
        case Scalar::eInt32:
        case Scalar::eUInt32:
        case Scalar::eFloat32:
            return 4;
        case Scalar::eFloat64:
            return 8;
    }
    return 0;
}

// What a vertex property feeds.
enum class Target { eNone, eX, eY, eZ, eNx, eNy, eNz, eRed, eGreen, eBlue, eQuality };

Target targetNamed(const std::string& name) {
    static const std::pair<const char*, Target> names[] = {{"x", Target::eX},
                                                           {"y", Target::eY},
                                                           {"z", Target::eZ},
                                                           {"nx", Target::eNx},
                                                           {"ny", Target::eNy},
                                                           {"nz", Target::eNz},
                                                           {"red", Target::eRed},
                                                           {"green", Target::eGreen},
                                                           {"blue", Target::eBlue},
                                                           {"quality", Target::eQuality},
                                                           {"confidence", Target::eQuality}};
    for (const auto& [text, target] : names) {
        if (name == text) {
            return target;
        }
    }
    return Target::eNone;
}

struct Property {
    Scalar type;
    Target target;
};

struct Header {
    PlyFile::EEncoding encoding = PlyFile::eAscii;
    uint64_t vertices = 0;
    std::vector<Property> properties;
    size_t bodyOffset = 0;
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> result;
    for (std::string word; stream >> word;) {
        result.push_back(word);
    }
    return result;
}

uint64_t parseCount(const std::string& text, const std::string& name) {
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        fail(name, "bad element count '" + text + "'");
    }
    return value;
}

Header parseHeader(const std::vector<uint8_t>& bytes, const std::string& name) {
    Header header;
    size_t position = 0;
    bool inVertex = false;
    bool sawVertex = false;
    bool sawFormat = false;
    int lineNumber = 0;
    for (;;) {
        size_t end = position;
        while (end < bytes.size() && end < c_maxHeaderBytes && bytes[end] != '\n') {
            ++end;
        }
        if (end >= bytes.size() || end >= c_maxHeaderBytes) {
            fail(name, "the header does not end (no end_header line)");
        }
        std::string line(reinterpret_cast<const char*>(bytes.data() + position), end - position);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        position = end + 1;
        ++lineNumber;
        std::vector<std::string> w = words(line);
        if (lineNumber == 1) {
            if (line != "ply") {
                fail(name, "not a PLY file (the first line is not 'ply')");
            }
            continue;
        }
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") {
            continue;
        }
        const std::string where = "header line " + std::to_string(lineNumber) + ": ";
        if (w[0] == "format") {
            if (w.size() != 3 || w[2] != "1.0") {
                fail(name, where + "bad format line");
            }
            if (w[1] == "ascii") {
                header.encoding = PlyFile::eAscii;
            } else if (w[1] == "binary_little_endian") {
                header.encoding = PlyFile::eBinaryLittleEndian;
            } else if (w[1] == "binary_big_endian") {
                header.encoding = PlyFile::eBinaryBigEndian;
            } else {
                fail(name, where + "unknown format '" + w[1] + "'");
            }
            sawFormat = true;
        } else if (w[0] == "element") {
            if (w.size() != 3) {
                fail(name, where + "bad element line");
            }
            uint64_t count = parseCount(w[2], name);
            inVertex = w[1] == "vertex";
            if (inVertex) {
                if (sawVertex) {
                    fail(name, where + "a second vertex element");
                }
                sawVertex = true;
                header.vertices = count;
            } else if (count != 0) {
                fail(name, where + "unsupported element '" + w[1] + "' (only vertices are read)");
            }
        } else if (w[0] == "property") {
            if (!inVertex) {
                continue;  // properties of empty elements
            }
            if (w.size() >= 2 && w[1] == "list") {
                fail(name, where + "unsupported list property of vertices");
            }
            std::optional<Scalar> type = w.size() == 3 ? scalarNamed(w[1]) : std::nullopt;
            if (!type) {
                fail(name, where + "bad property line");
            }
            header.properties.push_back({*type, targetNamed(w[2])});
        } else if (w[0] == "end_header") {
            break;
        } else {
            fail(name, where + "unknown keyword '" + w[0] + "'");
        }
    }
    if (!sawFormat) {
        fail(name, "no format line");
    }
    if (!sawVertex) {
        fail(name, "no vertex element");
    }
    for (Target required : {Target::eX, Target::eY, Target::eZ}) {
        if (std::none_of(header.properties.begin(), header.properties.end(),
                         [&](const Property& p) { return p.target == required; })) {
            fail(name, "the vertices have no x, y and z");
        }
    }
    header.bodyOffset = position;
    return header;
}

// The vertices are decoded a chunk at a time into one array of doubles per target (every
// scalar type converts to a double exactly and the ASCII parser gives doubles, so a value
// goes through the same conversions in every encoding), then turned into surfels target by
// target, written straight into the collection's arrays, which were sized once for the
// vertex count. A chunk's arrays (22 KiB) stay in the first-level cache; the loops over
// them have no calls and no per-value switch on the property type.
constexpr size_t c_chunk = 256;
constexpr size_t c_targets = static_cast<size_t>(Target::eQuality) + 1;

// A property that feeds a target, and where it lies in a binary record.
struct Field {
    size_t offset;
    Scalar type;
    Target target;
};

// Loads `count` values of type T that lie `stride` bytes apart, swapping their bytes when
// `Swap`, as doubles.
template <class T, bool Swap>
void loadColumn(const uint8_t* data, size_t stride, size_t count, double* out) {
    for (size_t i = 0; i < count; ++i) {
        T value = CbByteOrder::load<T>(data + i * stride);
        if constexpr (Swap) {
            value = CbByteOrder::byteSwap(value);
        }
        out[i] = static_cast<double>(value);
    }
}

template <bool Swap>
void loadColumn(Scalar type, const uint8_t* data, size_t stride, size_t count, double* out) {
    switch (type) {
        case Scalar::eInt8:
            return loadColumn<int8_t, false>(data, stride, count, out);
        case Scalar::eUInt8:
            return loadColumn<uint8_t, false>(data, stride, count, out);
        case Scalar::eInt16:
            return loadColumn<int16_t, Swap>(data, stride, count, out);
        case Scalar::eUInt16:
            return loadColumn<uint16_t, Swap>(data, stride, count, out);
        case Scalar::eInt32:
            return loadColumn<int32_t, Swap>(data, stride, count, out);
        case Scalar::eUInt32:
            return loadColumn<uint32_t, Swap>(data, stride, count, out);
        case Scalar::eFloat32:
            return loadColumn<float, Swap>(data, stride, count, out);
        case Scalar::eFloat64:
            return loadColumn<double, Swap>(data, stride, count, out);
    }
}

// Turns the vertices of a file into surfels, a chunk at a time. A vertex whose position,
// or normal when the file has one (an nx property), is not finite as a float is invalid: it
// is counted, the index of the first is kept, and it is left out. With a target collection
// the others become its surfels 0, 1, 2, ... in file order; without one the decoder only
// counts. Targets that no property feeds keep their defaults (0; quality 1); of two
// properties feeding one target the later wins.
class VertexDecoder {
public:
    VertexDecoder(const Header& header, KaCSurfelCollectionCCT* surfels) : m_surfels(surfels) {
        size_t offset = 0;
        bool fed[c_targets] = {};
        for (const Property& p : header.properties) {
            if (p.target != Target::eNone) {
                m_fields.push_back({offset, p.type, p.target});
                fed[static_cast<size_t>(p.target)] = true;
            }
            m_hasNormal |= p.target == Target::eNx;
            m_floatColor |= (p.target == Target::eRed &&
                             (p.type == Scalar::eFloat32 || p.type == Scalar::eFloat64));
            offset += sizeOf(p.type);
        }
        m_record = offset;
        for (size_t t = 0; t < c_targets; ++t) {
            if (!fed[t]) {
                std::fill_n(m_values[t], c_chunk,
                            t == static_cast<size_t>(Target::eQuality) ? 1.0 : 0.0);
            }
        }
        if (m_surfels != nullptr && m_surfels->GetNrSurfels() != 0) {
            m_out = m_surfels->GetWritableSurfels(0, m_surfels->GetNrSurfels());
        }
    }

    size_t GetRecordSize() const { return m_record; }
    // The value array of a target, for a parser that fills vertices 0 to c_chunk - 1.
    double* Values(Target target) { return m_values[static_cast<size_t>(target)]; }

    // Decodes `count` (at most c_chunk) binary records from `data` on.
    void LoadBinary(const uint8_t* data, size_t count, bool byteSwap) {
        for (const Field& field : m_fields) {
            double* out = Values(field.target);
            if (byteSwap) {
                loadColumn<true>(field.type, data + field.offset, m_record, count, out);
            } else {
                loadColumn<false>(field.type, data + field.offset, m_record, count, out);
            }
        }
    }

    // Takes the first `count` vertices of the value arrays: the next vertices of the file.
    void Take(size_t count) {
        size_t kept = count;
        if (!allValid(count)) {
            kept = dropInvalid(count);
        }
        if (m_surfels != nullptr && kept != 0) {
            write(kept);
        }
        m_read += count;
        m_written += kept;
    }

    uint64_t GetInvalidCount() const { return m_invalid; }
    uint64_t GetFirstInvalid() const { return m_firstInvalid; }
    // Surfels written so far.
    uint64_t GetWrittenCount() const { return m_written; }

private:
    bool finite(Target target, size_t i) const {
        return std::isfinite(static_cast<float>(m_values[static_cast<size_t>(target)][i]));
    }
    bool isValid(size_t i) const {
        bool position = finite(Target::eX, i) && finite(Target::eY, i) && finite(Target::eZ, i);
        return position && (!m_hasNormal || (finite(Target::eNx, i) && finite(Target::eNy, i) &&
                                             finite(Target::eNz, i)));
    }
    bool allValid(size_t count) const {
        bool valid = true;
        for (size_t i = 0; i < count; ++i) {
            valid &= isValid(i);
        }
        return valid;
    }
    // Moves the valid vertices to the front, in order; returns their number.
    size_t dropInvalid(size_t count) {
        size_t kept = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!isValid(i)) {
                m_firstInvalid = m_invalid++ == 0 ? m_read + i : m_firstInvalid;
                continue;
            }
            if (kept != i) {
                for (double* values : m_values) {
                    values[kept] = values[i];
                }
            }
            ++kept;
        }
        return kept;
    }

    void write(size_t count) {
        const size_t at = static_cast<size_t>(m_written);
        const double* x = Values(Target::eX);
        const double* y = Values(Target::eY);
        const double* z = Values(Target::eZ);
        for (size_t i = 0; i < count; ++i) {
            m_out.positions[at + i] = {static_cast<float>(x[i]), static_cast<float>(y[i]),
                                       static_cast<float>(z[i])};
        }
        if (m_hasNormal) {
            const double* nx = Values(Target::eNx);
            const double* ny = Values(Target::eNy);
            const double* nz = Values(Target::eNz);
            float ux[c_chunk], uy[c_chunk], uz[c_chunk];
            for (size_t i = 0; i < count; ++i) {
                const CbVector3f normal{static_cast<float>(nx[i]), static_cast<float>(ny[i]),
                                        static_cast<float>(nz[i])};
                const CbVector3f unit =
                    normal.Length() > 0.0f ? normal.Normalized() : CbVector3f(0, 0, 1);
                ux[i] = unit.x;
                uy[i] = unit.y;
                uz[i] = unit.z;
            }
            KaCSurfelKernels::EncodeNormals(ux, uy, uz, count, m_out.normalCodes + at);
        } else {
            std::fill_n(m_out.normalCodes + at, count, KaCQuantizedNormal::ms_codePositiveZ);
        }
        const double* channels[3] = {Values(Target::eRed), Values(Target::eGreen),
                                     Values(Target::eBlue)};
        uint8_t* colors = reinterpret_cast<uint8_t*>(m_out.colors + at);
        for (size_t i = 0; i < count; ++i) {
            for (size_t c = 0; c < 3; ++c) {
                const double value = m_floatColor ? channels[c][i] * 255.0 : channels[c][i];
                colors[3 * i + c] = static_cast<uint8_t>(
                    std::clamp(std::isfinite(value) ? value : 0.0, 0.0, 255.0) + 0.5);
            }
        }
        const double* quality = Values(Target::eQuality);
        for (size_t i = 0; i < count; ++i) {
            m_out.qualities[at + i] = static_cast<float>(quality[i]);
        }
        std::memset(m_out.curvatures + at, 0, count);
        std::memset(m_out.tissueTypes + at, 0, count);
        std::memset(m_out.boundaryFlags + at, 0, count);
    }

    KaCSurfelCollectionCCT* m_surfels;
    KaCSurfelContainer::KaNWritableSurfels m_out;
    std::vector<Field> m_fields;
    size_t m_record = 0;
    bool m_hasNormal = false;
    bool m_floatColor = false;
    double m_values[c_targets][c_chunk];
    uint64_t m_read = 0;
    uint64_t m_written = 0;
    uint64_t m_invalid = 0;
    uint64_t m_firstInvalid = 0;
};

// Refuses a vertex count that the bytes after the header cannot hold, before anything is
// allocated for the vertices: a binary file needs a whole record for each, an ASCII file
// at least one digit and one separator (but after the very last value) for each value.
void checkBodySize(const std::vector<uint8_t>& bytes, const Header& header,
                   const std::string& name) {
    const uint64_t available = bytes.size() - header.bodyOffset;
    if (header.encoding == PlyFile::eAscii) {
        if (header.vertices > (available + 1) / (2 * header.properties.size())) {
            fail(name, "short file: " + std::to_string(header.vertices) + " vertices announced");
        }
        return;
    }
    size_t record = 0;
    for (const Property& p : header.properties) {
        record += sizeOf(p.type);
    }
    if (header.vertices > available / record) {
        fail(name, "short file: " + std::to_string(header.vertices) + " vertices of " +
                       std::to_string(record) + " bytes announced, " + std::to_string(available) +
                       " bytes left");
    }
}

// Decodes the records of a binary file, whose size checkBodySize checked. `swapBytes` reads
// the values in the byte order the header does not name.
void readBinary(const std::vector<uint8_t>& bytes, const Header& header, VertexDecoder& decoder,
                bool swapBytes) {
    const size_t record = decoder.GetRecordSize();
    const bool byteSwap = ((header.encoding == PlyFile::eBinaryBigEndian) !=
                           (std::endian::native == std::endian::big)) != swapBytes;
    const uint8_t* data = bytes.data() + header.bodyOffset;
    for (uint64_t done = 0; done < header.vertices;) {
        const auto count = static_cast<size_t>(std::min<uint64_t>(c_chunk, header.vertices - done));
        decoder.LoadBinary(data + done * record, count, byteSwap);
        decoder.Take(count);
        done += count;
    }
}

// Parses the values of an ASCII file, whose size checkBodySize checked.
void readAscii(const std::vector<uint8_t>& bytes, const Header& header, const std::string& name,
               VertexDecoder& decoder) {
    const char* cursor = reinterpret_cast<const char*>(bytes.data()) + header.bodyOffset;
    const char* end = reinterpret_cast<const char*>(bytes.data()) + bytes.size();
    // Where each property's values go; those of no target are parsed (they must be
    // numbers) into a scratch array.
    double scratch[c_chunk];
    std::vector<double*> columns;
    for (const Property& p : header.properties) {
        columns.push_back(p.target == Target::eNone ? scratch : decoder.Values(p.target));
    }
    for (uint64_t done = 0; done < header.vertices;) {
        const auto count = static_cast<size_t>(std::min<uint64_t>(c_chunk, header.vertices - done));
        for (size_t v = 0; v < count; ++v) {
            for (double* column : columns) {
                while (cursor < end && std::isspace(static_cast<unsigned char>(*cursor))) {
                    ++cursor;
                }
                if (cursor == end) {
                    fail(name, "short file: vertex " + std::to_string(done + v) + " of " +
                                   std::to_string(header.vertices) + " is incomplete");
                }
                double value = 0.0;
                auto [next, error] = std::from_chars(cursor, end, value);
                if (error != std::errc()) {
                    fail(name, "bad number in vertex " + std::to_string(done + v));
                }
                cursor = next;
                column[v] = value;
            }
        }
        decoder.Take(count);
        done += count;
    }
}

// Refuses a file with invalid vertices.
[[noreturn]] void refuseInvalid(const std::vector<uint8_t>& bytes, const Header& header,
                                const std::string& name, const VertexDecoder& decoder) {
    std::string what = std::to_string(decoder.GetInvalidCount()) + " of " +
                       std::to_string(header.vertices) +
                       " vertices have a position or normal that is not finite (nan, inf or "
                       "beyond the float range), the first is vertex " +
                       std::to_string(decoder.GetFirstInvalid()) + " (counting from 0)";
    if (header.encoding != PlyFile::eAscii) {
        VertexDecoder swapped(header, nullptr);
        readBinary(bytes, header, swapped, true);
        if (swapped.GetInvalidCount() == 0) {
            what +=
                "; in the other byte order every vertex is finite: the format line (" +
                std::string(header.encoding == PlyFile::eBinaryBigEndian ? "binary_big_endian"
                                                                         : "binary_little_endian") +
                ") is probably wrong";
        }
    }
    fail(name, what + "; --drop-invalid leaves such vertices out");
}
template <class T>
void put(std::vector<uint8_t>& out, T value, bool bigEndian) {
    uint8_t bytes[sizeof(T)];
    CbByteOrder::store(bytes, bigEndian ? CbByteOrder::byteSwap(value) : value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

}  // namespace

CbSmartPointer<KaCSurfelCollectionCCT> PlyFile::Read(const std::filesystem::path& path,
                                                     EInvalidVertices invalid, uint64_t* dropped) {
    return ReadFromMemory(CbStreamReadBinaryFile::ReadAll(path), path.string(), invalid, dropped);
}

CbSmartPointer<KaCSurfelCollectionCCT> PlyFile::ReadFromMemory(const std::vector<uint8_t>& bytes,
                                                               const std::string& name,
                                                               EInvalidVertices invalid,
                                                               uint64_t* dropped) {
    Header header = parseHeader(bytes, name);
    if (header.vertices > UINT32_MAX) {
        fail(name, "too many vertices");
    }
    // The arrays are sized once, for every vertex the header announces; the readers check
    // that count against the bytes left before they decode anything. Invalid vertices left
    // out shrink the collection at the end.
    checkBodySize(bytes, header, name);
    auto surfels = KaCSurfelCollectionCCT::CreateForOverwrite(
        static_cast<uint32_t>(header.vertices), KaCSurfelContainer::eSurfelAttributeSetFull,
        nullptr);
    VertexDecoder decoder(header, surfels.Get());
    if (header.encoding == eAscii) {
        readAscii(bytes, header, name, decoder);
    } else {
        readBinary(bytes, header, decoder, false);
    }
    if (decoder.GetInvalidCount() > 0 && invalid == eRefuseInvalid) {
        refuseInvalid(bytes, header, name, decoder);
    }
    const auto written = static_cast<uint32_t>(decoder.GetWrittenCount());
    if (written != surfels->GetNrSurfels()) {
        surfels->Resize(written);
    }
    if (written != 0) {
        surfels->SurfelsWritten(0, written);  // the bounding box
    }
    if (dropped != nullptr) {
        *dropped = decoder.GetInvalidCount();
    }
    return surfels;
}

std::vector<uint8_t> PlyFile::Encode(const KaCSurfelContainer& surfels, EEncoding encoding) {
    const char* format = encoding == eAscii                ? "ascii"
                         : encoding == eBinaryLittleEndian ? "binary_little_endian"
                                                           : "binary_big_endian";
    std::string header =
        std::string("ply\nformat ") + format + " 1.0\ncomment written by ttree\nelement vertex " +
        std::to_string(surfels.GetNrSurfels()) +
        "\nproperty float x\nproperty float y\nproperty float z\nproperty float nx\n"
        "property float ny\nproperty float nz\nproperty uchar red\nproperty uchar green\n"
        "property uchar blue\nproperty float quality\nend_header\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    const bool bigEndian = encoding == eBinaryBigEndian;
    std::ostringstream text;
    text.precision(9);
    for (uint32_t i = 0; i < surfels.GetNrSurfels(); ++i) {
        KaCSurfel s = surfels.GetSurfel(i);
        if (encoding == eAscii) {
            text << s.position.x << ' ' << s.position.y << ' ' << s.position.z << ' ' << s.normal.x
                 << ' ' << s.normal.y << ' ' << s.normal.z << ' ' << int(s.color.r) << ' '
                 << int(s.color.g) << ' ' << int(s.color.b) << ' ' << s.quality << '\n';
            continue;
        }
        for (float value :
             {s.position.x, s.position.y, s.position.z, s.normal.x, s.normal.y, s.normal.z}) {
            put(out, value, bigEndian);
        }
        out.push_back(s.color.r);
        out.push_back(s.color.g);
        out.push_back(s.color.b);
        put(out, s.quality, bigEndian);
    }
    std::string body = text.str();
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void PlyFile::Write(const std::filesystem::path& path, const KaCSurfelContainer& surfels) {
    OutputFile::Write(path, Encode(surfels, eBinaryLittleEndian));
}
