#include "tools/ttree/TreeValueCheck.h"

#include <cmath>
#include <set>

#include "platform/harbor/CbStringConversion.h"
#include "tools/ttree/RigidTransform.h"

namespace {

std::string nameOf(const KaCTransformationNode& node) {
    return "node " + CbToUtf8(node.GetID().ToString()) + " ('" + CbToUtf8(node.GetDescription()) +
           "')";
}

}  // namespace

std::string TreeValueCheck::FirstFault(const CbSmartPointer<KaCTransformationNodeInner>& root) {
    for (auto it = root->BeginNode(); it; ++it) {
        const KaCTransformationNode& node = *it.GetCurrentNode();
        std::string fault = RigidTransform::Fault(node.GetRelativeTrafo());
        if (!fault.empty()) {
            return "the transformation of " + nameOf(node) + " is not rigid: " + fault;
        }
        auto model = node.GetModel();
        fault = model ? modelFault(*model) : std::string();
        if (!fault.empty()) {
            return "the model of " + nameOf(node) + " has " + fault;
        }
    }
    return {};
}

std::string TreeValueCheck::modelFault(const KaCModelCCT& model) {
    std::set<const KaCSurfelCollectionCCT*> seen;
    for (uint32_t type = 0; type < KaCModelCCT::ms_nrCollectionTypes; ++type) {
        auto surfels =
            model.GetSurfelCollection(static_cast<KaCModelCCT::ESurfelCollectionType>(type));
        if (!surfels || !seen.insert(surfels.Get()).second) {
            continue;
        }
        uint64_t bad = 0;
        uint32_t first = 0;
        for (uint32_t i = 0; i < surfels->GetNrSurfels(); ++i) {
            const CbVector3f p = surfels->GetPosition(i);
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                first = bad++ == 0 ? i : first;
            }
        }
        if (bad > 0) {
            return std::to_string(bad) + " of " + std::to_string(surfels->GetNrSurfels()) +
                   " surfels whose position is not finite, the first is surfel " +
                   std::to_string(first) + " (collection type " + std::to_string(type) + ")";
        }
    }
    return {};
}
