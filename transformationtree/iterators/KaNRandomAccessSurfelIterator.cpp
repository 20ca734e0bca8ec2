#include <limits>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "transformationtree/iterators/KaCPreorderWalkCache.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using RandomAccess = KaCTransformationNode::KaNRandomAccessSurfelIterator;

namespace {

constexpr unsigned int c_position = 0;
constexpr unsigned int c_curvature = 103;
constexpr unsigned int c_color = 108;

}  // namespace

RandomAccess RandomAccess::Of(KaCTransformationNode& root) {
    KaNRandomAccessSurfelIterator ras;
    KaCPreorderWalkCache::Attachment snapshot;
    if (root.IsLeaf()) {
        ras.addImage(root.GetModel(), c_matIdentityD);
    } else if (KaCPreorderWalkCache::Attach(root, KaCPreorderWalkCache::c_buildNow, snapshot)) {
        ras.addImages(*snapshot.cache, snapshot.rootIndex);
    } else {
        for (KaNLeafNodeIterator it = KaNLeafNodeIterator::Begin(root); it; ++it) {
            ras.addImage(it.GetCurrentNode()->GetModel(), it.GetCurrentTrafo());
        }
    }
    ras.finish();
    return ras;
}

void RandomAccess::addImages(const KaCPreorderWalkCache& snapshot, uint32_t rootIndex) {
    const KaCPreorderWalkCache::Entry* entries = snapshot.Entries();
    const CbMatrix4Rd* relative = snapshot.RelativeTrafos();
    const uint32_t end = entries[rootIndex].end;
    const uint32_t rootDepth = entries[rootIndex].depth;
    const uint32_t leaves = snapshot.LeavesBelow(rootIndex);
    m_images.reserve(leaves);
    m_firstSurfelIndices.reserve(static_cast<size_t>(leaves) + 1);
    // accumulated[d] is the transformation, into the traversal root, of the node at depth
    // d + 1 below it on the way to the current node: made as the leaf walk makes its path.
    std::vector<CbMatrix4Rd> accumulated;
    constexpr uint32_t c_prefetchDistance = 8;  // leaves' nodes are read this far ahead
    for (uint32_t i = rootIndex + 1; i < end; ++i) {
        const KaCPreorderWalkCache::Entry& entry = entries[i];
        const size_t level = entry.depth - rootDepth - 1;
        if (level >= accumulated.size()) {
            accumulated.resize(level + 1);
        }
        if (level == 0) {
            accumulated[0] = relative[i];
        } else {
            accumulated[level] = relative[i] * accumulated[level - 1];
        }
        if (entry.isLeaf) {
            if (i + c_prefetchDistance < end) {
                __builtin_prefetch(entries[i + c_prefetchDistance].node);
            }
            addImage(entry.node->GetModel(), accumulated[level]);
        }
    }
}

void RandomAccess::addImage(CbSmartPointer<const KaCModelCCT> model, const CbMatrix4Rd& trafo) {
    // A leaf without model contributes an image without surfels, which no number maps to.
    uint64_t surfels = 0;
    if (model) {
        if (auto collection =
                model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)) {
            surfels = collection->GetNrSurfels();
        }
    }
    if (m_nrOfOverallSurfels + surfels > std::numeric_limits<unsigned int>::max()) {
        CB_THROW(CbException, "random-access surfel iterator: more than 2^32 - 1 surfels");
    }
    m_images.push_back({std::move(model), trafo});
    m_firstSurfelIndices.push_back(m_nrOfOverallSurfels);
    m_nrOfOverallSurfels += static_cast<unsigned int>(surfels);
}

void RandomAccess::finish() {
    m_firstSurfelIndices.push_back(m_nrOfOverallSurfels);
}

unsigned int RandomAccess::surfelBelongsToImageIndex(unsigned int i) const {
    const std::vector<unsigned int>& first = m_firstSurfelIndices;
    unsigned int h = m_lastImageIndex;
    if (h + 1 < first.size() && first[h] <= i && i < first[h + 1]) {
        return h;
    }
    unsigned int hi = static_cast<unsigned int>(first.size()) - 1;
    if (hi < 2) {
        m_lastImageIndex = 0;
        return 0;
    }
    unsigned int lo = 0;
    unsigned int answer = 0;
    for (;;) {
        if (first[lo + 1] > i) {
            answer = lo;
            break;
        }
        if (first[hi - 1] <= i) {
            answer = hi - 1;
            break;
        }
        unsigned int mid = (lo + hi) / 2;
        if (first[mid] <= i) {
            lo = mid;
        } else {
            hi = mid;
        }
        if (hi - lo < 2) {
            answer = lo;
            break;
        }
    }
    m_lastImageIndex = answer;
    return answer;
}

void RandomAccess::getSurfelCollectionAndIndex(
    unsigned int i, CbSmartPointer<const KaCSurfelCollectionCCT>* collection,
    unsigned int* localIndex) const {
    if (i >= m_nrOfOverallSurfels) {
        CB_THROW(CbExceptionPreconditionViolation, "surfel number " + std::to_string(i) +
                                                       " not below " +
                                                       std::to_string(m_nrOfOverallSurfels));
    }
    unsigned int image = surfelBelongsToImageIndex(i);
    CbSmartPointer<const KaCSurfelCollectionCCT> current =
        m_images[image].model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    const unsigned int local = i - m_firstSurfelIndices[image];
    // The snapshot holds the model, not its collection: a collection replaced by a smaller
    // one since must not be read past its end.
    if (!current || local >= current->GetNrSurfels()) {
        CB_THROW(CbException, "random-access surfel iterator: surfel " + std::to_string(local) +
                                  " of image " + std::to_string(image) +
                                  " is gone: the model's collection changed since the snapshot");
    }
    if (collection != nullptr) {
        *collection = std::move(current);
    }
    if (localIndex != nullptr) {
        *localIndex = local;
    }
}

CbVector3f RandomAccess::GetPosition(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetAccessor<CbVector3f>(c_position)[local];
}

RandomAccess::Normal RandomAccess::GetNormal(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetNormalAccessor()[local];
}

KaCCompressedColor RandomAccess::GetColor(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetAccessor<KaCCompressedColor>(c_color)[local];
}

unsigned char RandomAccess::GetCurvature(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetAccessor<unsigned char>(c_curvature)[local];
}

float RandomAccess::GetQuality(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->HasQualityFlag() ? collection->GetQualityAccessor()[local] : 1.0f;
}

unsigned char RandomAccess::GetTissueType(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetTissueTypeAccessor()[local];
}

bool RandomAccess::GetBoundaryFlag(unsigned int i) const {
    CbSmartPointer<const KaCSurfelCollectionCCT> collection;
    unsigned int local = 0;
    getSurfelCollectionAndIndex(i, &collection, &local);
    return collection->GetBoundaryFlagAccessor()[local];
}

const CbMatrix4Rd& RandomAccess::GetTransformation(unsigned int i) const {
    getSurfelCollectionAndIndex(i, nullptr, nullptr);
    return m_images[m_lastImageIndex].trafo;
}
