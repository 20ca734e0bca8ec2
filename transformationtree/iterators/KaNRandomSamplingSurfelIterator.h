#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Visits a deterministic subset of the surfels below a node: sample j is the surfel with
// number (j · 1073676287) mod N, N the number of surfels (1073676287 is prime, so the
// first N samples are distinct whenever N is not a multiple of it and N + 1073676287
// stays below 2^32). BeginRss(every) takes about one surfel in `every`; InitByNrSamples
// sets the count directly. The per-sample queries are the random-access queries at the
// current number. A walk over no surfels is invalid from the start and is not stepped;
// Init(0) is refused with CbExceptionPreconditionViolation. Value type, not synchronised.
class KaCTransformationNode::KaNRandomSamplingSurfelIterator {
public:
    using Normal = KaNRandomAccessSurfelIterator::Normal;
    static constexpr unsigned int c_stride = 1073676287u;  // 0x3FFEFFFF, a prime

    // About one surfel in `every` below `root`; every == 0 is refused.
    static KaNRandomSamplingSurfelIterator Begin(KaCTransformationNode& root, int every);

    KaNRandomSamplingSurfelIterator() = default;
    KaNRandomSamplingSurfelIterator(const KaNRandomSamplingSurfelIterator& other) = default;
    KaNRandomSamplingSurfelIterator& operator=(const KaNRandomSamplingSurfelIterator& other) =
        default;
    ~KaNRandomSamplingSurfelIterator() = default;

    explicit operator bool() const { return m_sampleIndex < m_nrSamples; }
    KaNRandomSamplingSurfelIterator& operator++();
    void InitByNrSamples(int nrSamples);
    unsigned int GetNrSamples() const { return m_nrSamples; }
    // The overall number of the current sample.
    unsigned int GetSurfelIndex() const { return m_surfelIndex; }

    CbVector3f GetPosition() const { return m_ras.GetPosition(m_surfelIndex); }
    Normal GetNormal() const { return m_ras.GetNormal(m_surfelIndex); }
    KaCCompressedColor GetColor() const { return m_ras.GetColor(m_surfelIndex); }
    unsigned char GetCurvature() const { return m_ras.GetCurvature(m_surfelIndex); }
    float GetQuality() const { return m_ras.GetQuality(m_surfelIndex); }
    unsigned char GetTissueType() const { return m_ras.GetTissueType(m_surfelIndex); }
    bool GetBoundaryFlag() const { return m_ras.GetBoundaryFlag(m_surfelIndex); }
    const CbMatrix4Rd& GetTransformation() const { return m_ras.GetTransformation(m_surfelIndex); }
    const KaNRandomAccessSurfelIterator& GetRandomAccess() const { return m_ras; }

private:
    explicit KaNRandomSamplingSurfelIterator(KaNRandomAccessSurfelIterator ras)
        : m_ras(std::move(ras)) {}
    void Init(int every);

    KaNRandomAccessSurfelIterator m_ras;
    unsigned int m_stride = 0;
    unsigned int m_sampleIndex = 0;
    unsigned int m_nrSamples = 0;
    unsigned int m_surfelIndex = 0;
};
