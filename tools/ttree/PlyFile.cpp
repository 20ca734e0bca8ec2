#include "tools/ttree/PlyFile.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>

#include "platform/granary/KaCSurfel.h"
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

template <class T>
T loadAs(const uint8_t* data, bool bigEndian) {
    T value = CbByteOrder::load<T>(data);
    return bigEndian ? CbByteOrder::byteSwap(value) : value;
}

double loadScalar(const uint8_t* data, Scalar type, bool bigEndian) {
    switch (type) {
        case Scalar::eInt8:
            return static_cast<int8_t>(data[0]);
        case Scalar::eUInt8:
            return data[0];
        case Scalar::eInt16:
            return loadAs<int16_t>(data, bigEndian);
        case Scalar::eUInt16:
            return loadAs<uint16_t>(data, bigEndian);
        case Scalar::eInt32:
            return loadAs<int32_t>(data, bigEndian);
        case Scalar::eUInt32:
            return loadAs<uint32_t>(data, bigEndian);
        case Scalar::eFloat32:
            return loadAs<float>(data, bigEndian);
        case Scalar::eFloat64:
            return loadAs<double>(data, bigEndian);
    }
    return 0.0;
}

// Gathers one vertex's values and makes a surfel of them.
class VertexBuilder {
public:
    explicit VertexBuilder(const std::vector<Property>& properties) : m_properties(properties) {
        for (const Property& p : properties) {
            m_hasNormal |= p.target == Target::eNx;
            m_floatColor |= (p.target == Target::eRed &&
                             (p.type == Scalar::eFloat32 || p.type == Scalar::eFloat64));
        }
    }
    void Set(size_t property, double value) {
        m_values[static_cast<size_t>(m_properties[property].target)] = value;
    }
    bool IsUsed(size_t property) const { return m_properties[property].target != Target::eNone; }
    // Whether the position and the normal (when there is one) are finite as floats.
    bool IsFinite() const {
        auto finite = [&](Target t) {
            return std::isfinite(static_cast<float>(m_values[static_cast<size_t>(t)]));
        };
        bool position = finite(Target::eX) && finite(Target::eY) && finite(Target::eZ);
        return position && (!m_hasNormal ||
                            (finite(Target::eNx) && finite(Target::eNy) && finite(Target::eNz)));
    }
    KaCSurfel Make() const {
        auto v = [&](Target t) { return m_values[static_cast<size_t>(t)]; };
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(v(Target::eX)), static_cast<float>(v(Target::eY)),
                           static_cast<float>(v(Target::eZ))};
        if (m_hasNormal) {
            CbVector3f normal{static_cast<float>(v(Target::eNx)),
                              static_cast<float>(v(Target::eNy)),
                              static_cast<float>(v(Target::eNz))};
            surfel.normal = normal.Length() > 0.0f ? normal.Normalized() : CbVector3f(0, 0, 1);
        }
        auto channel = [&](Target t) {
            double value = m_floatColor ? v(t) * 255.0 : v(t);
            return static_cast<uint8_t>(std::clamp(std::isfinite(value) ? value : 0.0, 0.0, 255.0) +
                                        0.5);
        };
        surfel.color = {channel(Target::eRed), channel(Target::eGreen), channel(Target::eBlue)};
        surfel.quality = static_cast<float>(v(Target::eQuality));
        return surfel;
    }

private:
    const std::vector<Property>& m_properties;
    double m_values[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.0};
    bool m_hasNormal = false;
    bool m_floatColor = false;
};

// Takes the vertices read: adds the valid ones to a collection (when there is one), counts
// the invalid ones and keeps the index of the first.
class VertexSink {
public:
    explicit VertexSink(KaCSurfelCollectionCCT* surfels) : m_surfels(surfels) {}
    void Add(const VertexBuilder& vertex, uint64_t index) {
        if (!vertex.IsFinite()) {
            m_firstInvalid = m_invalid++ == 0 ? index : m_firstInvalid;
        } else if (m_surfels != nullptr) {
            m_surfels->AddSurfel(vertex.Make());
        }
    }
    uint64_t GetInvalidCount() const { return m_invalid; }
    uint64_t GetFirstInvalid() const { return m_firstInvalid; }

private:
    KaCSurfelCollectionCCT* m_surfels;
    uint64_t m_invalid = 0;
    uint64_t m_firstInvalid = 0;
};

// `swapBytes` reads the values in the byte order the header does not name.
void readBinary(const std::vector<uint8_t>& bytes, const Header& header, const std::string& name,
                VertexSink& sink, bool swapBytes) {
    size_t record = 0;
    for (const Property& p : header.properties) {
        record += sizeOf(p.type);
    }
    uint64_t available = bytes.size() - header.bodyOffset;
    if (header.vertices > available / record) {
        fail(name, "short file: " + std::to_string(header.vertices) + " vertices of " +
                       std::to_string(record) + " bytes announced, " + std::to_string(available) +
                       " bytes left");
    }
    const bool byteSwap = ((header.encoding == PlyFile::eBinaryBigEndian) !=
                           (std::endian::native == std::endian::big)) != swapBytes;
    VertexBuilder vertex(header.properties);
    const uint8_t* data = bytes.data() + header.bodyOffset;
    for (uint64_t i = 0; i < header.vertices; ++i) {
        for (size_t p = 0; p < header.properties.size(); ++p) {
            if (vertex.IsUsed(p)) {
                vertex.Set(p, loadScalar(data, header.properties[p].type, byteSwap));
            }
            data += sizeOf(header.properties[p].type);
        }
        sink.Add(vertex, i);
    }
}

void readAscii(const std::vector<uint8_t>& bytes, const Header& header, const std::string& name,
               VertexSink& sink) {
    const char* cursor = reinterpret_cast<const char*>(bytes.data()) + header.bodyOffset;
    const char* end = reinterpret_cast<const char*>(bytes.data()) + bytes.size();
    // Every value takes at least one digit and one separator (but the very last one).
    if (header.vertices >
        (static_cast<uint64_t>(end - cursor) + 1) / (2 * header.properties.size())) {
        fail(name, "short file: " + std::to_string(header.vertices) + " vertices announced");
    }
    VertexBuilder vertex(header.properties);
    for (uint64_t i = 0; i < header.vertices; ++i) {
        for (size_t p = 0; p < header.properties.size(); ++p) {
            while (cursor < end && std::isspace(static_cast<unsigned char>(*cursor))) {
                ++cursor;
            }
            if (cursor == end) {
                fail(name, "short file: vertex " + std::to_string(i) + " of " +
                               std::to_string(header.vertices) + " is incomplete");
            }
            double value = 0.0;
            auto [next, error] = std::from_chars(cursor, end, value);
            if (error != std::errc()) {
                fail(name, "bad number in vertex " + std::to_string(i));
            }
            cursor = next;
            vertex.Set(p, value);
        }
        sink.Add(vertex, i);
    }
}

// Refuses a file with invalid vertices.
[[noreturn]] void refuseInvalid(const std::vector<uint8_t>& bytes, const Header& header,
                                const std::string& name, const VertexSink& sink) {
    std::string what = std::to_string(sink.GetInvalidCount()) + " of " +
                       std::to_string(header.vertices) +
                       " vertices have a position or normal that is not finite (nan, inf or "
                       "beyond the float range), the first is vertex " +
                       std::to_string(sink.GetFirstInvalid()) + " (counting from 0)";
    if (header.encoding != PlyFile::eAscii) {
        VertexSink swapped(nullptr);
        readBinary(bytes, header, name, swapped, true);
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
    auto surfels =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    VertexSink sink(surfels.Get());
    if (header.encoding == eAscii) {
        readAscii(bytes, header, name, sink);
    } else {
        readBinary(bytes, header, name, sink, false);
    }
    if (sink.GetInvalidCount() > 0 && invalid == eRefuseInvalid) {
        refuseInvalid(bytes, header, name, sink);
    }
    if (dropped != nullptr) {
        *dropped = sink.GetInvalidCount();
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
