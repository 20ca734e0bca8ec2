#include "tools/ttree/ViewDocument.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/granary/KaCGridSampler.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStringConversion.h"
#include "tools/ttree/CommandSupport.h"
#include "tools/ttree/TreeCommand.h"
#include "tools/ttree/Wording.h"

namespace {

constexpr float c_firstCell = 0.05f;
constexpr float c_largestCell = 1000.0f;

// The surfels of a model, or null.
CbSmartPointer<const KaCSurfelCollectionCCT> surfelsOf(
    const CbSmartPointer<const KaCModelCCT>& model) {
    return model ? model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                 : CbSmartPointer<const KaCSurfelCollectionCCT>();
}

// The surfels of `surfels` carried by `trafo`, one per occupied cell of the grid.
CbSmartPointer<KaCSurfelCollectionCCT> thinnedOut(const KaCSurfelContainer& surfels,
                                                  const CbMatrix4Rd& trafo, float cell) {
    KaCGridSampler sampler(cell, 0.0f);
    const CbMatrix4Rf into(trafo);
    sampler.AddSurfels(surfels, &into);
    auto thinned = KaCSurfelCollectionCCT::CreateForOverwrite(sampler.GetNrOfUsedCells(),
                                                              surfels.GetAttributeSet(), nullptr);
    sampler.GetSubsampled(*thinned, 0.0f, surfels.GetAttributeSet(), false);
    return thinned;
}

// `cell` rounded up to two significant digits (1.0927 to 1.1), a cell a user can repeat
// with --cell.
float roundedUp(float cell) {
    const double unit = std::pow(10.0, std::floor(std::log10(cell)) - 1.0);
    return static_cast<float>(std::ceil(cell / unit - 1e-9) * unit);
}

}  // namespace

// A cloud to be: the surfels of a scan or model and their transformation into the session
// frame.
struct ViewDocument::Source {
    uint32_t cloud;
    CbSmartPointer<const KaCSurfelCollectionCCT> surfels;
    CbMatrix4Rd trafo;
};

ViewDocument::ViewDocument(const KaCSessionFile::Contents& session, const Options& options) {
    m_clusterNodes = CommandSupport::ClustersOf(session);
    m_modelCell = CommandSupport::ModelCellOf(session).value_or(0.0f);

    CbSmartPointer<KaCTransformationNode> shown =
        CommandSupport::FindNode(session.root, options.node);
    // The depth of the shown node, and the cluster above it, if any.
    uint32_t depth = 0;
    int32_t cluster = -1;
    for (auto father = shown->GetFather(); father; father = father->GetFather()) {
        ++depth;
        if (std::find(m_clusterNodes.begin(), m_clusterNodes.end(), father.Get()) !=
            m_clusterNodes.end()) {
            // Numbered as the walk numbers them: the shown subtree holds no other cluster.
            cluster = 0;
        }
    }
    const CbMatrix4Rd trafo =
        shown.Get() == session.root.Get() ? c_matIdentityD : shown->GetRelativeTrafo(session.root);
    std::vector<Source> sources;
    addNode(*shown, -1, depth, cluster, trafo, sources);
    for (const Source& source : sources) {
        m_sourceSurfels += source.surfels->GetNrSurfels();
    }
    if (!std::isfinite(options.cellSize) || options.cellSize < 0.0f) {
        CB_THROW(CbException, "the cell " + Wording::Number(options.cellSize) +
                                  " mm is not a length: give a positive number, or 0");
    }
    m_cellSize = chooseCell(sources, options);
    fillPoints(sources);
    m_spacing = IsSubsampled() ? m_cellSize : estimateSpacing();
}

void ViewDocument::addNode(const KaCTransformationNode& node, int32_t parent, uint32_t depth,
                           int32_t cluster, const CbMatrix4Rd& trafo,
                           std::vector<Source>& sources) {
    const auto index = static_cast<int32_t>(m_nodes.size());
    const bool isCluster =
        std::find(m_clusterNodes.begin(), m_clusterNodes.end(), &node) != m_clusterNodes.end();
    Node facts;
    facts.id = "{" + CbToUtf8(node.GetID().ToString()) + "}";
    facts.description = CbToUtf8(node.GetDescription());
    facts.kind = node.IsLeaf()       ? EKind::eScan
                 : !node.GetFather() ? EKind::eRoot
                 : isCluster         ? EKind::eCluster
                                     : EKind::eInner;
    facts.parent = parent;
    facts.depth = depth;
    facts.cluster = isCluster ? index : cluster;
    facts.keyframe = node.IsKeyframe();
    auto model = node.GetModel();
    auto surfels = surfelsOf(model);
    if (surfels) {
        (node.IsLeaf() ? facts.scanCloud : facts.modelCloud) =
            static_cast<int32_t>(m_clouds.size());
        m_clouds.push_back(Cloud{static_cast<uint32_t>(index), !node.IsLeaf(), 0, 0});
        sources.push_back(Source{static_cast<uint32_t>(m_clouds.size() - 1), surfels, trafo});
    }
    if (node.IsLeaf()) {
        ++m_scanCount;
        if (model) {
            facts.surfels = surfels ? surfels->GetNrSurfels() : 0;
            facts.sequence = model->GetAcquireSequenceNumber();
        }
    }
    m_nodes.push_back(std::move(facts));
    if (node.IsLeaf()) {
        return;
    }
    for (const auto& child : static_cast<const KaCTransformationNodeInner&>(node).GetChildren()) {
        m_nodes[static_cast<size_t>(index)].children.push_back(
            static_cast<uint32_t>(m_nodes.size()));
        addNode(*child, index, depth + 1, m_nodes[static_cast<size_t>(index)].cluster,
                child->GetRelativeTrafo() * trafo, sources);
    }
}

float ViewDocument::chooseCell(const std::vector<Source>& sources, const Options& options) const {
    if (options.cellSize > 0.0f) {
        return options.cellSize;
    }
    if (m_sourceSurfels <= options.maxPoints) {
        return 0.0f;
    }
    float cell = c_firstCell;
    for (;;) {
        uint64_t count = 0;
        for (const Source& source : sources) {
            KaCGridSampler sampler(cell, 0.0f);
            const CbMatrix4Rf into(source.trafo);
            sampler.AddSurfels(*source.surfels, &into);
            count += sampler.GetNrOfUsedCells();
        }
        if (count <= options.maxPoints) {
            return cell;
        }
        if (cell >= c_largestCell) {
            CB_THROW(CbException, "the view cannot hold the session in " +
                                      Wording::Count(options.maxPoints, "point", "points") +
                                      ": even on " + Wording::Number(c_largestCell) +
                                      " mm cells it takes " + std::to_string(count) +
                                      "; raise --max-points");
        }
        const double factor = std::max(
            1.25,
            1.02 * std::sqrt(static_cast<double>(count) / static_cast<double>(options.maxPoints)));
        cell = std::min(c_largestCell, roundedUp(static_cast<float>(cell * factor)));
    }
}

void ViewDocument::fillPoints(const std::vector<Source>& sources) {
    if (!IsSubsampled()) {
        m_points.Reserve(m_sourceSurfels);
    }
    for (const Source& source : sources) {
        Cloud& cloud = m_clouds[source.cloud];
        cloud.first = m_points.GetCount();
        if (IsSubsampled()) {
            cloud.count = m_points.Append(*thinnedOut(*source.surfels, source.trafo, m_cellSize),
                                          c_matIdentityD);
        } else {
            cloud.count = m_points.Append(*source.surfels, source.trafo);
        }
        (cloud.model ? m_modelPoints : m_scanPoints) += cloud.count;
    }
}

float ViewDocument::estimateSpacing() const {
    // The median distance to the nearest neighbour of up to 64 points of the largest scan,
    // searched among up to 20000 of its points: enough to size the splats.
    const Cloud* largest = nullptr;
    for (const Cloud& cloud : m_clouds) {
        if (!cloud.model && (!largest || cloud.count > largest->count)) {
            largest = &cloud;
        }
    }
    if (!largest || largest->count < 2) {
        return m_modelCell > 0.0f ? m_modelCell : 0.2f;
    }
    const float* p = m_points.GetPositions().data() + 3 * largest->first;
    const uint64_t n = std::min<uint64_t>(largest->count, 20000);
    const uint64_t probes = std::min<uint64_t>(n, 64);
    std::vector<float> nearest;
    for (uint64_t k = 0; k < probes; ++k) {
        const uint64_t i = k * n / probes;
        float best = std::numeric_limits<float>::infinity();
        for (uint64_t j = 0; j < n; ++j) {
            const float dx = p[3 * j] - p[3 * i], dy = p[3 * j + 1] - p[3 * i + 1],
                        dz = p[3 * j + 2] - p[3 * i + 2];
            const float d = dx * dx + dy * dy + dz * dz;
            if (j != i && d > 0.0f) {
                best = std::min(best, d);
            }
        }
        if (std::isfinite(best)) {
            nearest.push_back(std::sqrt(best));
        }
    }
    if (nearest.empty()) {
        return 0.2f;
    }
    std::nth_element(nearest.begin(), nearest.begin() + nearest.size() / 2, nearest.end());
    return nearest[nearest.size() / 2];
}
