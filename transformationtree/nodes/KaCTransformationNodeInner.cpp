#include "transformationtree/nodes/KaCTransformationNodeInner.h"

#include <algorithm>
#include <cstring>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

CB_DEFINE_RTTI(KaCTransformationNodeInner, &KaCTransformationNode::RTTI,
               &KaCTransformationNodeInner::CreateByFactory,
               &KaCTransformationNodeInner::CloneByFactory)

namespace {
constexpr uint32_t c_innerRecordVersion = 1;
// Bytes of one node reference in a stream: the 16 bytes of an ID.
constexpr uint64_t c_nodeReferenceBytes = 16;
}  // namespace

KaCTransformationNodeInner::KaCTransformationNodeInner() = default;

KaCTransformationNodeInner::KaCTransformationNodeInner(const CyUniqueID& id)
    : KaCTransformationNode(id) {}

KaCTransformationNodeInner::KaCTransformationNodeInner(const KaCTransformationNodeInner& other)
    : KaCTransformationNode(other)
    , m_children(other.m_children)
    , m_modelRevisionStamp(other.m_modelRevisionStamp) {}

KaCTransformationNodeInner::~KaCTransformationNodeInner() = default;

// --- Children

KaCTransformationNodeInner::ChildList::iterator KaCTransformationNodeInner::LastChild() {
    return m_children.empty() ? m_children.end() : m_children.end() - 1;
}

KaCTransformationNodeInner::ChildList::const_iterator KaCTransformationNodeInner::LastChild()
    const {
    return m_children.empty() ? m_children.end() : m_children.end() - 1;
}

KaCTransformationNodeInner::ChildList::iterator KaCTransformationNodeInner::FindChild(
    CbSmartPointer<KaCTransformationNode> child) {
    return std::find(m_children.begin(), m_children.end(), child);
}

KaCTransformationNodeInner::ChildList::const_iterator KaCTransformationNodeInner::FindChild(
    CbSmartPointer<const KaCTransformationNode> child) const {
    return std::find_if(
        m_children.begin(), m_children.end(),
        [&](const CbSmartPointer<KaCTransformationNode>& c) { return c.Get() == child.Get(); });
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeInner::FrontChild() {
    return m_children.empty() ? nullptr : m_children.front();
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeInner::BackChild() {
    return m_children.empty() ? nullptr : m_children.back();
}

CbSmartPointer<const KaCTransformationNode> KaCTransformationNodeInner::FrontChild() const {
    return m_children.empty() ? nullptr : m_children.front();
}

CbSmartPointer<const KaCTransformationNode> KaCTransformationNodeInner::BackChild() const {
    return m_children.empty() ? nullptr : m_children.back();
}

// --- Model slot

void KaCTransformationNodeInner::SetModel(CbSmartPointer<const KaCModelCCT> model,
                                          int64_t revision) {
    m_modelRevisionStamp = revision;
    m_model = std::move(model);
}

void KaCTransformationNodeInner::DeleteModel() {
    m_modelRevisionStamp = -1;
    m_model = nullptr;
}

void KaCTransformationNodeInner::AssumeAttributes(
    CbSmartPointer<const KaCTransformationNode> source, EAttributesToCopy what) {
    if (source->IsLeaf()) {
        return;
    }
    KaCTransformationNode::AssumeAttributes(source, what);
    const auto& inner = static_cast<const KaCTransformationNodeInner&>(*source);
    if (inner.GetNrChildren() == GetNrChildren() && what == eAttributesAndModel) {
        m_model = inner.m_model;
        m_modelRevisionStamp = inner.m_modelRevisionStamp;
    }
}

// --- Revisions of the subtree

int64_t KaCTransformationNodeInner::GetNodeRevisionSubtree(unsigned int mask) const {
    int64_t revision = GetNodeRevision(mask);
    for (const CbSmartPointer<KaCTransformationNode>& child : m_children) {
        revision = std::max(revision, child->GetNodeRevisionSubtree(mask));
    }
    return revision;
}

void KaCTransformationNodeInner::GetNodeRevisionsSubtree(int64_t revisions[2]) const {
    GetNodeRevisions(revisions);
    for (const CbSmartPointer<KaCTransformationNode>& child : m_children) {
        int64_t childRevisions[2];
        child->GetNodeRevisionsSubtree(childRevisions);
        revisions[0] = std::max(revisions[0], childRevisions[0]);
        revisions[1] = std::max(revisions[1], childRevisions[1]);
    }
}

void KaCTransformationNodeInner::UpdateNodeRevisionSubtree(int64_t* revisions) {
    // Lock one node at a time: never hold this node's lock while a child takes its own.
    int64_t running[2];
    readNodeRevisions(running);
    for (const CbSmartPointer<KaCTransformationNode>& child : m_children) {
        int64_t childRevisions[2] = {-1, -1};
        child->UpdateNodeRevisionSubtree(childRevisions);
        running[0] = std::max(running[0], childRevisions[0]);
        running[1] = std::max(running[1], childRevisions[1]);
    }
    // Revisions may have risen meanwhile: the raise keeps the larger value.
    raiseNodeRevisions(running);
    if (revisions != nullptr) {
        revisions[0] = running[0];
        revisions[1] = running[1];
    }
}

int64_t KaCTransformationNodeInner::GetDataNodeRevisionSubtree() const {
    KaCNodeVector leaves(CbSmartPointer<const KaCTransformationNode>(this),
                         KaCNodeVector::eLeafNodes, c_matIdentityD, 1);
    int64_t revision = -1;
    for (const KaCNodeAccelerated& element : leaves) {
        revision = std::max(revision, element.nodeRevisions[0]);
    }
    return revision;
}

// --- Structure record

void KaCTransformationNodeInner::SerializeStructure(CbStreamWriteBinary& stream) const {
    KaCTransformationNode::SerializeStructure(stream);
    // Version, model stamp, child count and the children's IDs (the references), gathered
    // into blocks: a stream call per block rather than per child.
    constexpr size_t c_idsPerBlock = 64;
    unsigned char block[16 * c_idsPerBlock];
    CbByteOrder::store<uint32_t>(block, c_innerRecordVersion);
    CbByteOrder::store<int64_t>(block + 4, m_modelRevisionStamp);
    CbByteOrder::store<uint32_t>(block + 12, static_cast<uint32_t>(m_children.size()));
    size_t used = 16;
    for (const CbSmartPointer<KaCTransformationNode>& child : m_children) {
        if (used == sizeof(block)) {
            stream.WriteBytes(block, used);
            used = 0;
        }
        // Child lists hold no empty slots.
        std::memcpy(block + used, child->GetID().GetBytes().data(), 16);
        used += 16;
    }
    stream.WriteBytes(block, used);
}

void KaCTransformationNodeInner::SerializeStructure(CbStreamReadBinary& stream) {
    KaCTransformationNode::SerializeStructure(stream);
    stream.ReadAcceptedVersion("KaCTransformationNodeInner structure record",
                               {c_innerRecordVersion});
    readStructureVersion1(stream);
}

void KaCTransformationNodeInner::readStructureVersion1(CbStreamReadBinary& stream) {
    m_modelRevisionStamp = stream.ReadInt64();
    uint32_t count = stream.ReadCount(c_nodeReferenceBytes, "child reference");
    KaCTransformationNodeSerializationIDMapper& nodes =
        KaCTransformationNodeSerializationIDMapper::GetInstance();
    // The old children go first; a failure part way keeps the children read before it.
    m_children.clear();
    m_children.reserve(count);
    noteWalkChange();
    // The references come in blocks, as the writer sends them.
    const bool fresh = readingFresh();
    constexpr uint32_t c_idsPerBlock = 64;
    unsigned char scratch[c_nodeReferenceBytes * c_idsPerBlock];
    for (uint32_t done = 0; done < count;) {
        const uint32_t block = std::min(count - done, c_idsPerBlock);
        const unsigned char* ids = stream.ReadBlock(scratch, c_nodeReferenceBytes * block);
        for (uint32_t i = 0; i < block; ++i) {
            // A reference that resolves to no node leaves no entry: the rest of the library
            // relies on child lists without empty slots.
            if (KaCTransformationNode* child = nodes.ResolveNodeReference(
                    CyUniqueID::FromBytes(ids + c_nodeReferenceBytes * i))) {
                m_children.push_back(fresh ? ChildList::value_type::FromUnshared(child)
                                           : ChildList::value_type(child));
            }
        }
        done += block;
    }
    noteWalkChange();
}

// --- Walks with this node as traversal root

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeInner::BeginNode() {
    return KaNNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeInner::EndNode() {
    return KaNNodeIterator::End(*this);
}

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeInner::LastNode() {
    return KaNNodeIterator::Last(*this);
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeInner::BackNode() {
    return LastNode().GetCurrentNode();
}

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeInner::Find(
    CbSmartPointer<KaCTransformationNode> node) {
    return KaNNodeIterator::Find(*this, node.Get());
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeInner::Find(
    CbSmartPointer<KaCTransformationNodeLeaf> leaf) {
    return KaNLeafNodeIterator::Find(*this, leaf.Get());
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeInner::BeginLeaf() {
    return KaNLeafNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeInner::LastLeaf() {
    return KaNLeafNodeIterator::Last(*this);
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeInner::EndLeaf() {
    return KaNLeafNodeIterator::End(*this);
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeInner::FrontLeaf() {
    KaNLeafNodeIterator it = BeginLeaf();
    return it ? CbStaticCast<KaCTransformationNodeLeaf>(
                    CbSmartPointer<KaCTransformationNode>(it.GetCurrentNode()))
              : nullptr;
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeInner::BackLeaf() {
    KaNLeafNodeIterator it = LastLeaf();
    return it ? CbStaticCast<KaCTransformationNodeLeaf>(
                    CbSmartPointer<KaCTransformationNode>(it.GetCurrentNode()))
              : nullptr;
}

KaCTransformationNode::KaNKeyFrameNodeIterator KaCTransformationNodeInner::BeginKeyframe() {
    return KaNKeyFrameNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeInner::BeginCachedLeaf() {
    return KaNCachedLeafNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeInner::LastCachedLeaf() {
    return KaNCachedLeafNodeIterator::Last(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeInner::EndCachedLeaf() {
    return KaNCachedLeafNodeIterator::End(*this);
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeInner::FrontCachedLeaf() {
    KaNCachedLeafNodeIterator it = BeginCachedLeaf();
    return it ? it.GetCurrentNode() : nullptr;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeInner::BackCachedLeaf() {
    KaNCachedLeafNodeIterator it = LastCachedLeaf();
    return it ? it.GetCurrentNode() : nullptr;
}

KaCTransformationNode::KaNInnerNodeIterator KaCTransformationNodeInner::BeginInner() {
    return KaNInnerNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNInnerNodeIterator KaCTransformationNodeInner::LastInner() {
    return KaNInnerNodeIterator::Last(*this);
}

KaCTransformationNode::KaNInnerNodeIterator KaCTransformationNodeInner::EndInner() {
    return KaNInnerNodeIterator::End(*this);
}

// --- Counts and extent

bool KaCTransformationNodeInner::EmptyLeafs() {
    return BeginLeaf() == EndLeaf();
}

uint64_t KaCTransformationNodeInner::GetNrLeafNodes() const {
    auto* self = const_cast<KaCTransformationNodeInner*>(this);
    uint64_t count = 0;
    for (KaNLeafNodeIterator it = self->BeginLeaf(); it; ++it) {
        ++count;
    }
    return count;
}

uint64_t KaCTransformationNodeInner::GetNrCachedLeafNodes() {
    uint64_t count = 0;
    for (KaNCachedLeafNodeIterator it = BeginCachedLeaf(), end = EndCachedLeaf(); it != end; ++it) {
        ++count;
    }
    return count;
}

CyBoundingBox3D KaCTransformationNodeInner::GetBoundingBox(const CbMatrix4Rd& trafo) const {
    auto* self = const_cast<KaCTransformationNodeInner*>(this);
    CyBoundingBox3D box;
    const CbMatrix4Rf frame(trafo);
    for (KaNLeafNodeIterator it = self->BeginLeaf(); it; ++it) {
        CbSmartPointer<const KaCModelCCT> model = it.GetCurrentNode()->GetModel();
        if (!model) {
            continue;
        }
        CyBoundingBox3D modelBox = model->GetBoundingBox();
        modelBox.Transform(CbMatrix4Rf(it.GetCurrentTrafo()) * frame);
        box.Extend(modelBox);
    }
    return box;
}

// --- Surfels below this node

KaCTransformationNode::KaNSurfelIterator KaCTransformationNodeInner::BeginSurfel() {
    return KaNSurfelIterator::Begin(*this);
}

KaCTransformationNode::KaNRandomAccessSurfelIterator KaCTransformationNodeInner::GetRas() {
    return KaNRandomAccessSurfelIterator::Of(*this);
}

KaCTransformationNode::KaNRandomSamplingSurfelIterator KaCTransformationNodeInner::BeginRss(
    int every) {
    return KaNRandomSamplingSurfelIterator::Begin(*this, every);
}

// --- Model of the subtree

void KaCTransformationNodeInner::CreateModel(bool useCollectionType4, float cellSize,
                                             float samplerParameter) {
    // The cached leaves stand for their subtrees: models built below are used, not redone.
    KaCNodeVector cachedLeaves(CbSmartPointer<const KaCTransformationNode>(this),
                               KaCNodeVector::eCachedLeafNodes, c_matIdentityD, 0);
    KaCModelCCT::ESurfelCollectionType type = useCollectionType4
                                                  ? KaCModelCCT::eSurfelCollectionTypeHighResolution
                                                  : KaCModelCCT::eSurfelCollectionTypeStandard;
    CbSmartPointer<KaCSurfelCollectionCCT> collection =
        ComputeSubsampling(cachedLeaves, type, cellSize, samplerParameter, nullptr);
    CbSmartPointer<const KaCModelCCT> model = KaCModelCCT::Create(collection, true);
    // Only now that the new model exists is the old one replaced.
    m_modelRevisionStamp = -1;
    m_model = std::move(model);
}
