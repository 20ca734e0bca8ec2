#include "transformationtree/nodes/KaCTransformationNode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "logging/Logger.h"
#include "platform/abacus/CbMatrixInternal.h"
#include "platform/abacus/CyExceptionNotInvertible.h"
#include "platform/granary/KaCGridSampler.h"
#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/Debugging.h"
#include "transformationtree/manager/KaCTransformationTreeLoggers.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

CB_DEFINE_RTTI(KaCTransformationNode, &CyNode::RTTI, nullptr, nullptr)

int64_t KaCTransformationNode::ms_iGlobalNodeHeadRevision = 0;
CbCriticalSection KaCTransformationNode::ms_csGlobalNodeHeadRevision;

namespace {

constexpr uint32_t c_baseRecordVersion = 1;
// The fixed-size blocks of the base structure record: version, father and model references
// and the trafo record; ID, two revisions and the visible flag.
constexpr size_t c_structureHeadBytes = 4 + 16 + 16 + CbMatrix4Rd::c_recordBytes;
constexpr size_t c_structureTailBytes = 16 + 8 + 8 + 1;

// m_nodeRevisions[index] holds the revision that this mask bit selects.
constexpr unsigned int c_maskOfIndex[2] = {KaCTransformationNode::eRevisionModel,
                                           KaCTransformationNode::eRevisionTrafo};

constexpr bool selects(unsigned int mask, int index) {
    return (mask & c_maskOfIndex[index]) != 0;
}

}  // namespace

KaCTransformationNode::KaCTransformationNode() : m_nodeRevisions{0, 0} {
    NewNodeRevision(eRevisionAll);
}

KaCTransformationNode::KaCTransformationNode(CbSmartPointer<const KaCModelCCT> model)
    : KaCTransformationNode() {
    m_model = std::move(model);
}

KaCTransformationNode::KaCTransformationNode(const KaCTransformationNode& other)
    : CyNode(other)
    , m_relativeTrafo(other.m_relativeTrafo)
    , m_description(other.m_description)
    , m_visible(other.m_visible)
    , m_cleanedUp(other.m_cleanedUp) {
    SetName(m_id.ToString());
    CbCriticalSectionAuto lock(other.m_revisionLock);
    m_nodeRevisions[0] = other.m_nodeRevisions[0];
    m_nodeRevisions[1] = other.m_nodeRevisions[1];
}

KaCTransformationNode::KaCTransformationNode(const CyUniqueID& id)
    : m_id(id), m_nodeRevisions{0, 0} {}

KaCTransformationNode::~KaCTransformationNode() = default;

std::wstring KaCTransformationNode::DefaultName() const {
    return m_id.ToString();
}

// --- Identity

CyUniqueID KaCTransformationNode::GetID(const CbSmartPointer<const KaCTransformationNode>& node) {
    return node ? node->GetID() : GetInvalidID();
}

const CyUniqueID& KaCTransformationNode::GetInvalidID() {
    static const CyUniqueID invalid(std::wstring(L"00000000-0000-0000-0000-000000000000"));
    return invalid;
}

// --- Tree position

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationNode::GetFather() {
    return m_father.Lock();
}

CbSmartPointer<const KaCTransformationNodeInner> KaCTransformationNode::GetFather() const {
    return m_father.Lock();
}

void KaCTransformationNode::setFather(const CbSmartPointer<KaCTransformationNodeInner>& father) {
    // The old and the new father's child lists change with the link.
    if (CbSmartPointer<KaCTransformationNodeInner> old = m_father.Lock()) {
        static_cast<KaCTransformationNode&>(*old).noteWalkChange();
    }
    m_father = father;
    if (father) {
        static_cast<KaCTransformationNode&>(*father).noteWalkChange();
    }
}

thread_local KaCTransformationNode::FreshReadScope* KaCTransformationNode::ms_freshRead = nullptr;
thread_local bool KaCTransformationNode::ms_wholeTreeWrite = false;

void KaCTransformationNode::FreshReadScope::Finish() {
    if (m_largestRevision >= 0) {
        assertGlobalNodeHeadRevisionValid(m_largestRevision);
    }
}

void KaCTransformationNode::noteWalkChange() {
    if (ms_freshRead != nullptr) {
        return;  // a node of a tree being read, out of every walk's reach
    }
    m_walkGeneration.fetch_add(1, std::memory_order_acq_rel);
    for (CbSmartPointer<KaCTransformationNodeInner> father = GetFather(); father;
         father = father->GetFather()) {
        static_cast<KaCTransformationNode&>(*father).m_walkGeneration.fetch_add(
            1, std::memory_order_acq_rel);
    }
}

// --- Transformation

CbMatrix4Rd KaCTransformationNode::GetRelativeTrafo(
    CbSmartPointer<const KaCTransformationNodeInner> ancestor) const {
    if (ancestor.Get() == this) {
        return c_matIdentityD;
    }
    CbMatrix4Rd trafo = m_relativeTrafo;
    for (CbSmartPointer<const KaCTransformationNodeInner> father = GetFather();
         father && father != ancestor; father = father->GetFather()) {
        trafo = trafo * father->GetRelativeTrafo();
    }
    return trafo;
}

void KaCTransformationNode::SetRelativeTrafo(const CbMatrix4Rd& trafo) {
    m_relativeTrafo = trafo;
    noteWalkChange();
    NewNodeRevision(eRevisionTrafo);
}

void KaCTransformationNode::SetRelativeTrafo(
    const CbMatrix4Rd& trafo, CbSmartPointer<const KaCTransformationNodeInner> ancestor) {
    CbSmartPointer<const KaCTransformationNodeInner> father = GetFather();
    if (!father) {
        const Logging::CLogger& logger = KaCTransformationTreeLoggers::TransformationNode();
        if (Logging::IsLogEnabled(logger, Logging::eWarning)) {
            std::wstring stack;
            Debugging::GetCallStack(stack, 3);
            Logging::LogWarning(
                logger, __FILE__, __LINE__, "KaCTransformationNode::SetRelativeTrafo",
                L"Setting relative Trafo on Node without Father!\n%s", stack.c_str());
        }
        CB_THROW(CbException, "KaCTransformationNode::SetRelativeTrafo");
    }
    CbMatrix4Rd fatherToAncestor = father->GetRelativeTrafo(ancestor);
    double determinant = 0.0;
    CbMatrixInternal::Invert(fatherToAncestor, determinant);
    if (determinant == 0.0) {
        CB_THROW(CyExceptionNotInvertible,
                 "KaCTransformationNode::SetRelativeTrafo: singular father transformation");
    }
    SetRelativeTrafo(trafo * fatherToAncestor);
}

// --- Revisions

int64_t KaCTransformationNode::getNextGlobalNodeRevision() {
    CbCriticalSectionAuto lock(ms_csGlobalNodeHeadRevision);
    if (ms_iGlobalNodeHeadRevision == std::numeric_limits<int64_t>::max()) {
        CB_THROW(CbException, "KaCTransformationNode: no node revision left to draw");
    }
    return ++ms_iGlobalNodeHeadRevision;
}

void KaCTransformationNode::assertGlobalNodeHeadRevisionValid(int64_t revision) {
    CbCriticalSectionAuto lock(ms_csGlobalNodeHeadRevision);
    if (ms_iGlobalNodeHeadRevision <= revision) {
        ms_iGlobalNodeHeadRevision = revision + 1;
    }
}

int64_t KaCTransformationNode::GetNodeRevision(unsigned int mask) const {
    CbCriticalSectionAuto lock(m_revisionLock);
    int64_t revision = -1;
    for (int index = 0; index < 2; ++index) {
        if (selects(mask, index)) {
            revision = std::max(revision, m_nodeRevisions[index]);
        }
    }
    return revision;
}

void KaCTransformationNode::GetNodeRevisions(int64_t revisions[2]) const {
    readNodeRevisions(revisions);
    // As GetNodeRevision: a selected revision below -1 reads as -1.
    revisions[0] = std::max<int64_t>(revisions[0], -1);
    revisions[1] = std::max<int64_t>(revisions[1], -1);
}

void KaCTransformationNode::NewNodeRevision(unsigned int mask) {
    CbCriticalSectionAuto lock(m_revisionLock);
    for (int index = 0; index < 2; ++index) {
        if (selects(mask, index)) {
            m_nodeRevisions[index] = getNextGlobalNodeRevision();
        }
    }
}

void KaCTransformationNode::SetNodeRevision(int64_t revision, unsigned int mask) {
    CbCriticalSectionAuto lock(m_revisionLock);
    for (int index = 0; index < 2; ++index) {
        if (selects(mask, index)) {
            m_nodeRevisions[index] = revision;
        }
    }
}

void KaCTransformationNode::readNodeRevisions(int64_t revisions[2]) const {
    CbCriticalSectionAuto lock(m_revisionLock);
    revisions[0] = m_nodeRevisions[0];
    revisions[1] = m_nodeRevisions[1];
}

void KaCTransformationNode::raiseNodeRevisions(int64_t revisions[2]) {
    CbCriticalSectionAuto lock(m_revisionLock);
    for (int index = 0; index < 2; ++index) {
        m_nodeRevisions[index] = std::max(m_nodeRevisions[index], revisions[index]);
        revisions[index] = m_nodeRevisions[index];
    }
}

// --- Flags, text and attributes

void KaCTransformationNode::SetDescription(const std::wstring& description) {
    {
        CbCriticalSectionAuto lock(m_revisionLock);
        m_description = description;
    }
    if (!IsLeaf()) {
        if (CbSmartPointer<const KaCModelCCT> model = GetModel()) {
            model->SetFilename(description);
        }
    }
}

std::wstring KaCTransformationNode::GetDescriptionCopy() const {
    CbCriticalSectionAuto lock(m_revisionLock);
    return m_description;
}

void KaCTransformationNode::AssumeAttributes(CbSmartPointer<const KaCTransformationNode> source,
                                             EAttributesToCopy /*what*/) {
    m_relativeTrafo = source->m_relativeTrafo;
    noteWalkChange();
    SetDescription(source->m_description);
    m_visible = source->m_visible;
}

// --- Structure record of the node base

void KaCTransformationNode::SerializeStructure(CbStreamWriteBinary& stream) const {
    // The version goes out as a plain unsigned 32-bit value; the stream's version encoding
    // is the same, so the version read gets it back. The fixed-size parts go out as blocks:
    // version, father and model references and the trafo; the description; ID, revisions
    // and the visible flag.
    unsigned char head[c_structureHeadBytes];
    CbByteOrder::store<uint32_t>(head, c_baseRecordVersion);
    if (ms_wholeTreeWrite) {
        // The writer holds the root, so every father is alive and the link can be read
        // unlocked; it writes the models itself and needs none remembered.
        const KaCTransformationNodeInner* father = m_father.GetLive();
        std::memcpy(head + 4,
                    (father != nullptr ? father->GetID() : GetInvalidID()).GetBytes().data(), 16);
        std::memcpy(head + 20, (m_model ? m_model->GetId() : GetInvalidID()).GetBytes().data(), 16);
    } else {
        std::memcpy(head + 4, GetID(GetFather()).GetBytes().data(), 16);
        std::memcpy(head + 20,
                    KaCModelSerializationIDMapper::ReferenceModel(m_model).GetBytes().data(), 16);
    }
    m_relativeTrafo.StoreRecord(head + 36);
    stream.WriteBytes(head, sizeof(head));
    stream.WriteWideString(m_description);
    int64_t revisions[2];
    readNodeRevisions(revisions);
    unsigned char tail[c_structureTailBytes];
    std::memcpy(tail, m_id.GetBytes().data(), 16);
    CbByteOrder::store(tail + 16, revisions[0]);
    CbByteOrder::store(tail + 24, revisions[1]);
    tail[32] = m_visible ? 1 : 0;
    stream.WriteBytes(tail, sizeof(tail));
}

void KaCTransformationNode::SerializeStructure(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCTransformationNode structure record", {c_baseRecordVersion});
    readStructureVersion1(stream);
}

void KaCTransformationNode::readStructureVersion1(CbStreamReadBinary& stream) {
    // Read in the blocks the writer writes (after the version): father and model references
    // and the trafo; the description; ID, revisions and the visible flag.
    FreshReadScope* const fresh = ms_freshRead;
    unsigned char scratch[c_structureHeadBytes - 4];
    const unsigned char* head = stream.ReadBlock(scratch, sizeof(scratch));
    // The mapping keeps the father alive while this record is read.
    KaCTransformationNode* fatherNode =
        KaCTransformationNodeSerializationIDMapper::GetInstance().ResolveNodeReference(
            CyUniqueID::FromBytes(head));
    auto* father = fatherNode != nullptr && !fatherNode->IsLeaf()
                       ? static_cast<KaCTransformationNodeInner*>(fatherNode)
                       : nullptr;
    if (fresh != nullptr) {
        // Both nodes were made by this read, which no other thread reaches yet; the node
        // has no father yet.
        m_father.AssignUnshared(father);
    } else {
        // Others keep their link when it stays, and take no father from their own subtree,
        // which would close a cycle of father links.
        if (father != GetFather().Get()) {
            for (CbSmartPointer<const KaCTransformationNodeInner> up(father); up;
                 up = up->GetFather()) {
                if (static_cast<const KaCTransformationNode*>(up.Get()) == this) {
                    CB_THROW(CbException,
                             "KaCTransformationNode: a structure record names a father in the "
                             "node's own subtree");
                }
            }
            m_father = father;
        }
        noteWalkChange();  // the trafo read below, and the father's child list being read
    }
    m_model = KaCModelSerializationIDMapper::GetInstance().ResolveModelReference(
        CyUniqueID::FromBytes(head + 16));
    m_relativeTrafo.LoadRecord(head + 32);
    m_description = stream.ReadWideString();
    unsigned char tailScratch[c_structureTailBytes];
    const unsigned char* tail = stream.ReadBlock(tailScratch, sizeof(tailScratch));
    const CyUniqueID id = CyUniqueID::FromBytes(tail);
    if (id != m_id) {
        GetName();  // the name stays the text of the ID the node was made with
        m_id = id;
    }
    int64_t revisions[2] = {CbByteOrder::load<int64_t>(tail + 16),
                            CbByteOrder::load<int64_t>(tail + 24)};
    for (int64_t revision : revisions) {
        if (revision > ms_largestStoredRevision) {
            // The process-wide counter must be able to go on far beyond every revision read.
            CB_THROW(CbException, "KaCTransformationNode: node revision " +
                                      std::to_string(revision) + " is beyond 2^62");
        }
    }
    const int64_t largest = std::max(revisions[0], revisions[1]);
    if (fresh != nullptr) {
        // Nobody else reaches the node: the revisions need no lock.
        m_nodeRevisions[0] = revisions[0];
        m_nodeRevisions[1] = revisions[1];
        fresh->m_largestRevision = std::max(fresh->m_largestRevision, largest);
    } else {
        {
            CbCriticalSectionAuto lock(m_revisionLock);
            m_nodeRevisions[0] = revisions[0];
            m_nodeRevisions[1] = revisions[1];
        }
        assertGlobalNodeHeadRevisionValid(largest);
    }
    m_visible = tail[32] != 0;
}

// --- Model building

namespace {

// The element's transformation in float, followed by the extra transformation if given.
CbMatrix4Rf elementTrafo(const KaCNodeAccelerated& element, const CbMatrix4Rf* trafo) {
    CbMatrix4Rf m(element.trafo);
    return trafo != nullptr ? m * *trafo : m;
}

CbSmartPointer<const KaCSurfelCollectionCCT> sourceOf(const KaCNodeAccelerated& element,
                                                      KaCModelCCT::ESurfelCollectionType type) {
    CbSmartPointer<const KaCSurfelCollectionCCT> source =
        element.model ? element.model->GetSurfelCollection(type) : nullptr;
    if (!source) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "ComputeSubsampling: an element has no model or no collection of type " +
                     std::to_string(static_cast<int>(type)));
    }
    return source;
}

// The result collection at its final size: (surfels, not in the box, attribute set 1, no ray
// image), its memory left unset because the caller writes every surfel before it returns
// (so it is written once, and large collections come from the surfel memory pool).
CbSmartPointer<KaCSurfelCollectionCCT> newCollection(uint64_t surfels) {
    if (surfels > UINT32_MAX) {
        CB_THROW(CbException, "ComputeSubsampling: more than 2^32 - 1 surfels");
    }
    return KaCSurfelCollectionCCT::CreateForOverwrite(static_cast<uint32_t>(surfels),
                                                      KaCSurfelContainer::eSurfelAttributeSetFull,
                                                      CbSmartPointer<const KaIRayImage>());
}

CbSmartPointer<KaCSurfelCollectionCCT> merge(const KaCNodeVector& nodes,
                                             KaCModelCCT::ESurfelCollectionType type,
                                             const CbMatrix4Rf* trafo) {
    std::vector<CbSmartPointer<const KaCSurfelCollectionCCT>> sources;
    sources.reserve(nodes.size());
    uint64_t total = 0;
    for (const KaCNodeAccelerated& element : nodes) {
        sources.push_back(sourceOf(element, type));
        total += sources.back()->GetNrSurfels();
    }
    CbSmartPointer<KaCSurfelCollectionCCT> result = newCollection(total);
    uint32_t target = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        CbMatrix4Rf m = elementTrafo(nodes[i], trafo);
        uint32_t count = sources[i]->GetNrSurfels();
        result->CopySurfels(target, *sources[i], 0, count, m, m.WithoutTranslation());
        target += count;
    }
    return result;
}

CbSmartPointer<KaCSurfelCollectionCCT> sample(const KaCNodeVector& nodes,
                                              KaCModelCCT::ESurfelCollectionType type,
                                              const std::vector<CyBoundingSphere>* spheres,
                                              float cellSize, float samplerParameter,
                                              const CbMatrix4Rf* trafo) {
    // Told the parameter up front, the sampler sums each cell as surfels come in instead of
    // keeping every surfel until GetSubsampled.
    KaCGridSampler sampler(cellSize, samplerParameter);
    uint64_t total = 0;
    for (const KaCNodeAccelerated& element : nodes) {
        total += sourceOf(element, type)->GetNrSurfels();
    }
    sampler.ExpectSurfels(total);  // sizes the cell table for all of them at once
    for (const KaCNodeAccelerated& element : nodes) {
        CbSmartPointer<const KaCSurfelCollectionCCT> source = sourceOf(element, type);
        CbMatrix4Rf m = elementTrafo(element, trafo);
        if (spheres != nullptr) {
            sampler.AddSurfels(*source, &m, *spheres);
        } else {
            sampler.AddSurfels(*source, &m);
        }
    }
    CbSmartPointer<KaCSurfelCollectionCCT> result = newCollection(sampler.GetNrOfUsedCells());
    sampler.GetSubsampled(*result, samplerParameter, KaCSurfelContainer::eSurfelAttributeSetFull,
                          false);
    return result;
}

}  // namespace

CbSmartPointer<KaCSurfelCollectionCCT> KaCTransformationNode::ComputeSubsampling(
    const KaCNodeVector& nodes, KaCModelCCT::ESurfelCollectionType collectionType, float cellSize,
    float samplerParameter, const CbMatrix4Rf* trafo) {
    // Exactly 0 merges; any other value, NaN included, goes to the grid sampler.
    if (cellSize == 0.0f) {
        return merge(nodes, collectionType, trafo);
    }
    return sample(nodes, collectionType, nullptr, cellSize, samplerParameter, trafo);
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCTransformationNode::ComputeSubsampling(
    const KaCNodeVector& nodes, KaCModelCCT::ESurfelCollectionType collectionType,
    const std::vector<CyBoundingSphere>& spheres, float cellSize, float samplerParameter,
    const CbMatrix4Rf* trafo) {
    if (cellSize == 0.0f) {
        return merge(nodes, collectionType, trafo);
    }
    return sample(nodes, collectionType, &spheres, cellSize, samplerParameter, trafo);
}
