#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCTransformationNodeLeaf, &KaCTransformationNode::RTTI,
               &KaCTransformationNodeLeaf::CreateByFactory,
               &KaCTransformationNodeLeaf::CloneByFactory)

namespace {
constexpr uint32_t c_leafRecordVersion = 3;
}  // namespace

KaCTransformationNodeLeaf::KaCTransformationNodeLeaf() = default;

KaCTransformationNodeLeaf::KaCTransformationNodeLeaf(const CyUniqueID& id, const CbDateTime& time)
    : KaCTransformationNode(id), m_time(time) {}

KaCTransformationNodeLeaf::KaCTransformationNodeLeaf(CbSmartPointer<const KaCModelCCT> model)
    : KaCTransformationNode(std::move(model)) {
    SetVisible(true);
}

KaCTransformationNodeLeaf::KaCTransformationNodeLeaf(const KaCTransformationNodeLeaf& other)
    : KaCTransformationNode(other)
    , m_newEntryScan(other.m_newEntryScan)
    , m_modelRenewed(other.m_modelRenewed)
    , m_keyframe(false)
    , m_time(other.m_time) {}

KaCTransformationNodeLeaf::~KaCTransformationNodeLeaf() = default;

CyBoundingBox3D KaCTransformationNodeLeaf::GetBoundingBox(const CbMatrix4Rd& /*trafo*/) const {
    if (!m_model) {
        return CyBoundingBox3D();
    }
    CbSmartPointer<const KaCSurfelCollectionCCT> collection =
        m_model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    return collection ? collection->GetBoundingBox() : CyBoundingBox3D();
}

void KaCTransformationNodeLeaf::AssumeAttributes(CbSmartPointer<const KaCTransformationNode> source,
                                                 EAttributesToCopy what) {
    if (source->IsLeaf()) {
        KaCTransformationNode::AssumeAttributes(source, what);
    }
}

void KaCTransformationNodeLeaf::UpdateNodeRevisionSubtree(int64_t* revisions) {
    if (revisions != nullptr) {
        readNodeRevisions(revisions);
    }
}

void KaCTransformationNodeLeaf::RenewModel(CbSmartPointer<const KaCModelCCT> model) {
    if (m_modelRenewed) {
        return;
    }
    if (model != m_model) {
        m_model = std::move(model);
    }
    NewNodeRevision(0xFFFFFFFFu);
}

void KaCTransformationNodeLeaf::AssumeAttributesIncrementVersion(
    CbSmartPointer<const KaCTransformationNode> source) {
    AssumeAttributes(source, eAttributesAndModel);
}

// --- Structure record

void KaCTransformationNodeLeaf::SerializeStructure(CbStreamWriteBinary& stream) const {
    KaCTransformationNode::SerializeStructure(stream);
    // The version (a plain unsigned 32-bit value, as the stream encodes versions) and the
    // two flags of version 3 in one block.
    unsigned char part[4 + 1 + 1];
    CbByteOrder::store<uint32_t>(part, c_leafRecordVersion);
    part[4] = m_newEntryScan ? 1 : 0;
    part[5] = m_keyframe ? 1 : 0;
    stream.WriteBytes(part, sizeof(part));
}

void KaCTransformationNodeLeaf::SerializeStructure(CbStreamReadBinary& stream) {
    KaCTransformationNode::SerializeStructure(stream);
    switch (stream.ReadAcceptedVersion("KaCTransformationNodeLeaf structure record", {1, 2, 3})) {
        case 1:
            readStructureVersion1(stream);
            break;
        case 2:
            readStructureVersion2(stream);
            break;
        default:
            readStructureVersion3(stream);
            break;
    }
}

void KaCTransformationNodeLeaf::readStructureVersion1(CbStreamReadBinary& /*stream*/) {}

void KaCTransformationNodeLeaf::readStructureVersion2(CbStreamReadBinary& stream) {
    m_newEntryScan = stream.ReadBool();
}

void KaCTransformationNodeLeaf::readStructureVersion3(CbStreamReadBinary& stream) {
    uint8_t scratch[2];
    const uint8_t* flags = stream.ReadBlock(scratch, sizeof(scratch));
    m_newEntryScan = flags[0] != 0;
    m_keyframe = flags[1] != 0;
}

// --- Walks: the subtree of a leaf is the leaf itself (single-leaf mode)

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeLeaf::BeginNode() {
    return KaNNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeLeaf::LastNode() {
    return KaNNodeIterator::Last(*this);
}

KaCTransformationNode::KaNNodeIterator KaCTransformationNodeLeaf::EndNode() {
    return KaNNodeIterator::End(*this);
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeLeaf::BackNode() {
    return this;
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeLeaf::BeginLeaf() {
    return KaNLeafNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeLeaf::LastLeaf() {
    return KaNLeafNodeIterator::Last(*this);
}

KaCTransformationNode::KaNLeafNodeIterator KaCTransformationNodeLeaf::EndLeaf() {
    return KaNLeafNodeIterator::End(*this);
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeLeaf::FrontLeaf() {
    return this;
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeLeaf::BackLeaf() {
    return this;
}

KaCTransformationNode::KaNKeyFrameNodeIterator KaCTransformationNodeLeaf::BeginKeyframe() {
    return KaNKeyFrameNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeLeaf::BeginCachedLeaf() {
    return KaNCachedLeafNodeIterator::Begin(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeLeaf::LastCachedLeaf() {
    return KaNCachedLeafNodeIterator::Last(*this);
}

KaCTransformationNode::KaNCachedLeafNodeIterator KaCTransformationNodeLeaf::EndCachedLeaf() {
    return KaNCachedLeafNodeIterator::End(*this);
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeLeaf::FrontCachedLeaf() {
    return this;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeLeaf::BackCachedLeaf() {
    return this;
}

KaCTransformationNode::KaNSurfelIterator KaCTransformationNodeLeaf::BeginSurfel() {
    return KaNSurfelIterator::Begin(*this);
}

KaCTransformationNode::KaNRandomAccessSurfelIterator KaCTransformationNodeLeaf::GetRas() {
    return KaNRandomAccessSurfelIterator::Of(*this);
}

KaCTransformationNode::KaNRandomSamplingSurfelIterator KaCTransformationNodeLeaf::BeginRss(
    int every) {
    return KaNRandomSamplingSurfelIterator::Begin(*this, every);
}
