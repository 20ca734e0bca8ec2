#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using RandomSampling = KaCTransformationNode::KaNRandomSamplingSurfelIterator;

RandomSampling RandomSampling::Begin(KaCTransformationNode& root, int every) {
    KaNRandomSamplingSurfelIterator rss(KaNRandomAccessSurfelIterator::Of(root));
    rss.Init(every);
    return rss;
}

void RandomSampling::Init(int every) {
    if (every == 0) {
        CB_THROW(CbExceptionPreconditionViolation, "sampling every 0th surfel");
    }
    m_nrSamples = m_ras.GetNrOfOverallSurfels() / static_cast<unsigned int>(every);
    m_stride = c_stride;
    m_sampleIndex = 0;
    m_surfelIndex = 0;
}

void RandomSampling::InitByNrSamples(int nrSamples) {
    m_nrSamples = static_cast<unsigned int>(nrSamples);
    m_stride = c_stride;
    m_sampleIndex = 0;
    m_surfelIndex = 0;
}

RandomSampling& RandomSampling::operator++() {
    unsigned int surfels = m_ras.GetNrOfOverallSurfels();
    if (surfels == 0) {
        CB_THROW(CbExceptionPreconditionViolation, "stepping a sampling walk over no surfels");
    }
    ++m_sampleIndex;
    // The 32-bit sum wraps, as the sample numbering is defined.
    m_surfelIndex = (m_surfelIndex + m_stride) % surfels;
    return *this;
}
