#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using SurfelIterator = KaCTransformationNode::KaNSurfelIterator;

SurfelIterator::KaNSurfelIterator(CbWeakPointer<const KaCSurfelContainer> container)
    : m_container(std::move(container)) {}

CbWeakPointer<const KaCSurfelContainer> SurfelIterator::containerOf(
    const KaCTransformationNode& node) {
    CbSmartPointer<const KaCModelCCT> model = node.GetModel();
    if (!model) {
        return nullptr;
    }
    return CbWeakPointer<const KaCSurfelContainer>(
        model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
}

SurfelIterator SurfelIterator::Begin(KaCTransformationNode& root) {
    KaNSurfelIterator it;
    if (root.IsLeaf()) {
        it.m_container = containerOf(root);
        it.m_singleLeafMode = true;
        return it;
    }
    it.m_current = KaNLeafNodeIterator::Begin(root);
    it.m_end = KaNLeafNodeIterator::End(root);
    if (it.m_current != it.m_end) {
        it.m_container = containerOf(*it.m_current.GetCurrentNode());
    }
    return it;
}

SurfelIterator::operator bool() const {
    if (!m_singleLeafMode && m_current == m_end) {
        return false;
    }
    CbSmartPointer<const KaCSurfelContainer> container = m_container.Lock();
    return container && m_surfelIndex < container->GetNrSurfels();
}

SurfelIterator& SurfelIterator::operator++() {
    ++m_surfelIndex;
    if (m_singleLeafMode) {
        return *this;
    }
    CbSmartPointer<const KaCSurfelContainer> container = m_container.Lock();
    if (!container || m_surfelIndex >= container->GetNrSurfels()) {
        ++m_current;
        if (m_current != m_end) {
            m_container = containerOf(*m_current.GetCurrentNode());
            m_surfelIndex = 0;
        }
    }
    return *this;
}

bool SurfelIterator::operator==(const KaNSurfelIterator& other) const {
    return m_current == other.m_current && m_surfelIndex == other.m_surfelIndex &&
           m_singleLeafMode == other.m_singleLeafMode;
}

const CbMatrix4Rd& SurfelIterator::GetTransformation() const {
    return m_singleLeafMode ? c_matIdentityD : m_current.GetCurrentTrafo();
}
