#include "platform/granary/KaCModelCCT.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCModelCCT, nullptr, &KaCModelCCT::CreateByFactory, &KaCModelCCT::CloneByFactory)

namespace {

constexpr uint32_t c_geometryVersion = 1;
constexpr uint32_t c_metaDataVersion = 1;

using CollectionPointer = CbSmartPointer<KaCSurfelCollectionCCT>;

// Maps each distinct collection to one replacement made by `make`, so that collections
// shared between the main slot and the typed slots stay shared in the result.
class CollectionMapper {
public:
    explicit CollectionMapper(std::function<CollectionPointer(const KaCSurfelCollectionCCT&)> make)
        : m_make(std::move(make)) {}

    CollectionPointer operator()(const CollectionPointer& original) {
        if (!original) {
            return nullptr;
        }
        for (const auto& [from, to] : m_done) {
            if (from == original.Get()) {
                return to;
            }
        }
        CollectionPointer replacement = m_make(*original);
        m_done.emplace_back(original.Get(), replacement);
        return replacement;
    }

private:
    std::function<CollectionPointer(const KaCSurfelCollectionCCT&)> m_make;
    std::vector<std::pair<const KaCSurfelCollectionCCT*, CollectionPointer>> m_done;
};

}  // namespace

KaCModelCCT::KaCModelCCT() = default;

KaCModelCCT::KaCModelCCT(CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox)
    : m_collection(std::move(collection)) {
    if (updateBoundingBox && m_collection) {
        m_collection->UpdateBoundingBox();
    }
}

KaCModelCCT::KaCModelCCT(const KaCModelCCT& other)
    : CbReferenceCounted(other)
    , IObject(other)
    , m_acquireSequenceNumber(other.m_acquireSequenceNumber) {
    CollectionMapper copy([](const KaCSurfelCollectionCCT& original) {
        return CollectionPointer(new KaCSurfelCollectionCCT(original));
    });
    m_collection = copy(other.m_collection);
    for (uint32_t type = 0; type < ms_nrCollectionTypes; ++type) {
        m_typedCollections[type] = copy(other.m_typedCollections[type]);
    }
    m_filename = other.GetFilename();
}

CbSmartPointer<KaCModelCCT> KaCModelCCT::Create(CbSmartPointer<KaCSurfelCollectionCCT> collection,
                                                bool updateBoundingBox) {
    return CbSmartPointer<KaCModelCCT>(new KaCModelCCT(std::move(collection), updateBoundingBox));
}

void KaCModelCCT::checkType(ESurfelCollectionType type) {
    if (static_cast<uint32_t>(type) >= ms_nrCollectionTypes) {
        CB_THROW(CbException,
                 "KaCModelCCT: unknown surfel collection type " + std::to_string(type));
    }
}

CbSmartPointer<const KaCSurfelCollectionCCT> KaCModelCCT::GetSurfelCollection(
    ESurfelCollectionType type) const {
    checkType(type);
    const CollectionPointer& typed = m_typedCollections[type];
    return typed ? typed : m_collection;
}

void KaCModelCCT::SetSurfelCollection(ESurfelCollectionType type,
                                      CbSmartPointer<KaCSurfelCollectionCCT> collection) {
    checkType(type);
    m_typedCollections[type] = std::move(collection);
}

void KaCModelCCT::RenewSurfelCollection(CbSmartPointer<KaCSurfelCollectionCCT> collection) {
    m_collection = std::move(collection);
}

CyBoundingBox3D KaCModelCCT::GetBoundingBox() const {
    CbSmartPointer<const KaCSurfelCollectionCCT> standard =
        GetSurfelCollection(eSurfelCollectionTypeStandard);
    return standard ? standard->GetBoundingBox() : CyBoundingBox3D();
}

std::wstring KaCModelCCT::GetFilename() const {
    CbCriticalSectionAuto lock(m_csFilename);
    return m_filename;
}

void KaCModelCCT::SetFilename(const std::wstring& filename) const {
    std::wstring copy = filename;
    CbCriticalSectionAuto lock(m_csFilename);
    m_filename.swap(copy);
}

CbSmartPointer<KaCModelCCT> KaCModelCCT::GetTransformedModel(
    const CbMatrix4Rd& transformation) const {
    CbSmartPointer<KaCModelCCT> result = CbCreateByName<KaCModelCCT>(GetClassNameW());
    if (!result) {
        CB_THROW(CbException,
                 "KaCModelCCT::GetTransformedModel: the model's class cannot be created by name");
    }
    const CbMatrix4Rf matrix(transformation);
    const CbMatrix4Rf rotation = matrix.WithoutTranslation();
    CollectionMapper transform([&](const KaCSurfelCollectionCCT& original) {
        const uint32_t count = original.GetNrSurfels();
        // Placeholders start with an empty box, which grows exactly over the copied surfels.
        CollectionPointer moved(new KaCSurfelCollectionCCT(count, false, original.GetAttributeSet(),
                                                           original.GetRayImage()));
        moved->CopySurfels(0, original, 0, count, matrix, rotation);
        return moved;
    });
    result->m_collection = transform(m_collection);
    for (uint32_t type = 0; type < ms_nrCollectionTypes; ++type) {
        result->m_typedCollections[type] = transform(m_typedCollections[type]);
    }
    result->m_acquireSequenceNumber = m_acquireSequenceNumber;
    result->SetFilename(GetFilename());
    return result;
}

void KaCModelCCT::SerializeGeometry(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_geometryVersion);
    stream.WriteBool(static_cast<bool>(m_collection));
    if (m_collection) {
        m_collection->Serialize(stream);
    }
    uint32_t nrTyped = 0;
    for (const CollectionPointer& typed : m_typedCollections) {
        nrTyped += typed ? 1 : 0;
    }
    stream.WriteUInt32(nrTyped);
    for (uint32_t type = 0; type < ms_nrCollectionTypes; ++type) {
        const CollectionPointer& typed = m_typedCollections[type];
        if (!typed) {
            continue;
        }
        stream.WriteUInt32(type);
        const bool sameAsMain = typed == m_collection;
        stream.WriteBool(sameAsMain);
        if (!sameAsMain) {
            typed->Serialize(stream);
        }
    }
}

void KaCModelCCT::SerializeGeometry(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCModelCCT geometry record", {c_geometryVersion});
    CollectionPointer main;
    if (stream.ReadBool()) {
        main = CollectionPointer(new KaCSurfelCollectionCCT());
        main->Serialize(stream);
    }
    const uint32_t nrTyped = stream.ReadUInt32();
    if (nrTyped > ms_nrCollectionTypes) {
        CB_THROW(CbException, "KaCModelCCT: corrupt geometry record: " + std::to_string(nrTyped) +
                                  " collection types");
    }
    std::array<CollectionPointer, ms_nrCollectionTypes> typedCollections;
    int64_t previousType = -1;
    for (uint32_t i = 0; i < nrTyped; ++i) {
        const uint32_t type = stream.ReadUInt32();
        if (type >= ms_nrCollectionTypes || static_cast<int64_t>(type) <= previousType) {
            CB_THROW(CbException, "KaCModelCCT: corrupt geometry record: collection type " +
                                      std::to_string(type));
        }
        previousType = type;
        if (stream.ReadBool()) {
            if (!main) {
                CB_THROW(CbException,
                         "KaCModelCCT: corrupt geometry record: no main collection to share");
            }
            typedCollections[type] = main;
        } else {
            typedCollections[type] = CollectionPointer(new KaCSurfelCollectionCCT());
            typedCollections[type]->Serialize(stream);
        }
    }
    m_collection = std::move(main);
    m_typedCollections = std::move(typedCollections);
}

void KaCModelCCT::SerializeMetaData(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_metaDataVersion);
    m_id.Serialize(stream);
    stream.WriteWideString(GetFilename());
    stream.WriteUInt64(m_acquireSequenceNumber);
}

void KaCModelCCT::SerializeMetaData(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCModelCCT metadata record", {c_metaDataVersion});
    CyUniqueID id;
    id.Serialize(stream);
    std::wstring filename = stream.ReadWideString();
    const uint64_t sequenceNumber = stream.ReadUInt64();
    m_id = id;
    SetFilename(filename);
    m_acquireSequenceNumber = sequenceNumber;
}

CbVector3f KaCModelCCT::GetMeanCenterInMeasureVolume() const {
    CbSmartPointer<const KaCSurfelCollectionCCT> standard =
        GetSurfelCollection(eSurfelCollectionTypeStandard);
    if (!standard) {
        return CbVector3f();
    }
    const KaTSurfelAccessor<CbVector3f> positions = standard->GetPositionAccessor();
    double sum[3] = {0.0, 0.0, 0.0};
    uint64_t used = 0;
    for (uint32_t i = 0; i < standard->GetNrSurfels(); ++i) {
        const CbVector3f p = positions[i];
        if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
            sum[0] += p.x;
            sum[1] += p.y;
            sum[2] += p.z;
            ++used;
        }
    }
    if (used == 0) {
        return CbVector3f();
    }
    const double n = static_cast<double>(used);
    return {static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n),
            static_cast<float>(sum[2] / n)};
}

double KaCModelCCT::GetMeasureVolumeCVE() const {
    const CyBoundingBox3D box = GetBoundingBox();
    if (box.IsEmpty()) {
        return 0.0;
    }
    const CbVector3f& lo = box.GetMin();
    const CbVector3f& hi = box.GetMax();
    return (static_cast<double>(hi.x) - lo.x) * (static_cast<double>(hi.y) - lo.y) *
           (static_cast<double>(hi.z) - lo.z);
}

std::vector<KaCSurfelCollectionCCT*> KaCModelCCT::getDistinctCollections() const {
    std::vector<KaCSurfelCollectionCCT*> collections;
    auto add = [&collections](const CollectionPointer& collection) {
        if (collection && std::find(collections.begin(), collections.end(), collection.Get()) ==
                              collections.end()) {
            collections.push_back(collection.Get());
        }
    };
    add(m_collection);
    for (const CollectionPointer& typed : m_typedCollections) {
        add(typed);
    }
    return collections;
}

size_t KaCModelCCT::GetUsedDynamicMemory() const {
    size_t bytes = 0;
    for (const KaCSurfelCollectionCCT* collection : getDistinctCollections()) {
        bytes += sizeof(KaCSurfelCollectionCCT) + collection->GetUsedDynamicMemory();
    }
    CbCriticalSectionAuto lock(m_csFilename);
    return bytes + m_filename.capacity() * sizeof(wchar_t);
}
