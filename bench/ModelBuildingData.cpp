#include "bench/ModelBuildingData.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>

#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

namespace ModelBuildingData {

namespace {

constexpr double c_pi = 3.14159265358979323846;
// The arch: centre line an half ellipse, the band 8 mm wide and up to about 9 mm high.
constexpr double c_radiusX = 24.5;
constexpr double c_radiusY = 33.0;
constexpr double c_halfWidth = 4.0;
constexpr double c_teeth = 14.0;

struct Point {
    double x, y, z;
};

Point sub(const Point& a, const Point& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// The arch surface at s (along the arch, 0 to 1) and t (across the band, 0 to 1).
Point archPoint(double s, double t) {
    const double angle = c_pi * s;
    const double cx = c_radiusX * std::cos(angle), cy = c_radiusY * std::sin(angle);
    // Outward normal of the centre line in the plane.
    double nx = std::cos(angle) / c_radiusX, ny = std::sin(angle) / c_radiusY;
    const double length = std::hypot(nx, ny);
    nx /= length;
    ny /= length;
    const double across = (t - 0.5) * 2.0 * c_halfWidth;
    const double dome = std::sin(c_pi * t);
    const double cusps = 0.5 + 0.5 * std::cos(2.0 * c_pi * c_teeth * s) *
                                   std::cos(4.0 * c_pi * t);  // tooth-like bumps
    const double z = 7.0 * std::pow(dome, 0.6) + 1.8 * dome * cusps;
    return {cx + across * nx, cy + across * ny, z};
}

Point archNormal(double s, double t) {
    const double h = 1e-5;
    const Point ds = sub(archPoint(s + h, t), archPoint(s - h, t));
    const Point dt = sub(archPoint(s, t + h), archPoint(s, t - h));
    Point n{ds.y * dt.z - ds.z * dt.y, ds.z * dt.x - ds.x * dt.z, ds.x * dt.y - ds.y * dt.x};
    const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    return {n.x / length, n.y / length, n.z / length};
}

// A rigid motion (rotation about a random axis by up to `degrees`, then a translation of
// up to `shift` per axis) in the row-vector layout.
CbMatrix4Rd randomRigid(std::mt19937& random, double degrees, double shift) {
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    double k[3] = {normal(random), normal(random), normal(random)};
    const double length = std::sqrt(k[0] * k[0] + k[1] * k[1] + k[2] * k[2]);
    for (double& v : k) {
        v /= length;
    }
    const double angle = unit(random) * degrees * c_pi / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    const double cross[3][3] = {{0, -k[2], k[1]}, {k[2], 0, -k[0]}, {-k[1], k[0], 0}};
    CbMatrix4Rd m;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            // Column-vector rotation R; the row-vector layout stores its transpose.
            m(col, row) = (row == col ? c : 0.0) + s * cross[row][col] + (1 - c) * k[row] * k[col];
        }
    }
    for (int col = 0; col < 3; ++col) {
        m(3, col) = unit(random) * shift;
    }
    return m;
}

// The inverse of a rigid motion: rotation transposed, translation turned back.
CbMatrix4Rd inverseRigid(const CbMatrix4Rd& m) {
    CbMatrix4Rd inverse;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            inverse(row, col) = m(col, row);
        }
    }
    for (int col = 0; col < 3; ++col) {
        inverse(3, col) =
            -(m(3, 0) * inverse(0, col) + m(3, 1) * inverse(1, col) + m(3, 2) * inverse(2, col));
    }
    return inverse;
}

Point apply(const CbMatrix4Rd& m, const Point& p, double w) {
    return {p.x * m(0, 0) + p.y * m(1, 0) + p.z * m(2, 0) + w * m(3, 0),
            p.x * m(0, 1) + p.y * m(1, 1) + p.z * m(2, 1) + w * m(3, 1),
            p.x * m(0, 2) + p.y * m(1, 2) + p.z * m(2, 2) + w * m(3, 2)};
}

// One scan: the arch between s0 and s1 in raster order, stored in the frame of `pose`.
CbSmartPointer<KaCModelCCT> makeScan(double s0, double s1, uint32_t surfels,
                                     const CbMatrix4Rd& pose, bool unordered,
                                     std::mt19937& random) {
    // Rows along the arch, columns across it, spaced about evenly on the surface.
    const double alongMm = (s1 - s0) * c_pi * 0.5 * (c_radiusX + c_radiusY);
    const double acrossMm = 2.0 * c_halfWidth + 14.0;
    const uint32_t rows = std::max<uint32_t>(
        1, static_cast<uint32_t>(std::lround(std::sqrt(surfels * alongMm / acrossMm))));
    const uint32_t columns = (surfels + rows - 1) / rows;
    const CbMatrix4Rd toScan = inverseRigid(pose);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    std::uniform_real_distribution<float> quality(0.2f, 1.0f);
    std::uniform_int_distribution<int> shade(-12, 12);

    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    collection->Reserve(surfels);
    // Raster order, or the same raster positions in a random order.
    std::vector<uint32_t> order(surfels);
    for (uint32_t i = 0; i < surfels; ++i) {
        order[i] = i;
    }
    if (unordered) {
        std::shuffle(order.begin(), order.end(), random);
    }
    for (uint32_t i : order) {
        const uint32_t row = i / columns, column = i % columns;
        const double s = s0 + (s1 - s0) * (row + 0.5 + jitter(random)) / rows;
        const double t = (column + 0.5 + jitter(random)) / columns;
        const Point p = apply(toScan, archPoint(s, t), 1.0);
        const Point n = apply(toScan, archNormal(s, t), 0.0);
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(p.x), static_cast<float>(p.y),
                           static_cast<float>(p.z)};
        surfel.normal = {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)};
        const int tone = shade(random);
        surfel.color = {static_cast<uint8_t>(225 + tone), static_cast<uint8_t>(215 + tone),
                        static_cast<uint8_t>(195 + tone)};
        surfel.curvature = static_cast<uint8_t>(column % 256);
        surfel.quality = quality(random);
        surfel.tissueType = archPoint(s, t).z > 3.0 ? 1 : 2;
        surfel.boundary = row == 0 || row + 1 == rows || column == 0 || column + 1 == columns;
        collection->AddSurfel(surfel);
    }
    return KaCModelCCT::Create(collection, true);
}

}  // namespace

std::vector<Scan> MakeArchScans(uint32_t count, uint32_t surfelsPerScan, uint32_t seed,
                                bool unordered) {
    std::mt19937 random(seed);
    std::vector<Scan> scans;
    scans.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        // Each scan spans three scan spacings, so that about three scans cover any point.
        const double centre = (i + 0.5) / count;
        const double half = 1.5 / count;
        const double s0 = std::max(0.0, centre - half), s1 = std::min(1.0, centre + half);
        const CbMatrix4Rd pose = randomRigid(random, 25.0, 10.0);
        scans.push_back({makeScan(s0, s1, surfelsPerScan, pose, unordered, random), pose});
    }
    return scans;
}

KaCNodeVector MakeNodeVector(const std::vector<Scan>& scans) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    KaCNodeVector nodes;
    for (const Scan& scan : scans) {
        CbSmartPointer<const KaCTransformationNode> leaf = manager.CreateLeafNode(scan.model);
        nodes.emplace_back(leaf, scan.pose);
    }
    return nodes;
}

namespace {

// Hangs scans [begin, end) below `father` as a balanced tree of at most `maxChildren`
// children per inner node; `fatherToArch` is the father's accumulated trafo.
void hangBalanced(KaCTransformationNodeManager& manager,
                  const CbSmartPointer<KaCTransformationNodeInner>& father,
                  const CbMatrix4Rd& fatherToArch, const std::vector<Scan>& scans, size_t begin,
                  size_t end, uint32_t maxChildren, std::mt19937& random) {
    const size_t count = end - begin;
    if (count <= maxChildren) {
        for (size_t i = begin; i < end; ++i) {
            auto leaf = manager.CreateLeafNode(scans[i].model);
            // relative × fatherToArch = pose
            leaf->SetRelativeTrafo(scans[i].pose * inverseRigid(fatherToArch));
            manager.AppendChild(father, leaf, true);
        }
        return;
    }
    for (uint32_t group = 0; group < maxChildren; ++group) {
        const size_t from = begin + count * group / maxChildren;
        const size_t to = begin + count * (group + 1) / maxChildren;
        auto inner = manager.CreateInnerNode();
        const CbMatrix4Rd relative = randomRigid(random, 5.0, 2.0);
        inner->SetRelativeTrafo(relative);
        manager.AppendChild(father, inner, true);
        hangBalanced(manager, inner, relative * fatherToArch, scans, from, to, maxChildren, random);
    }
}

}  // namespace

CbSmartPointer<KaCTransformationNodeInner> MakeSessionTree(uint32_t clusters,
                                                           uint32_t leavesPerCluster,
                                                           uint32_t maxChildren,
                                                           uint32_t surfelsPerScan,
                                                           bool unordered) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    const std::vector<Scan> scans =
        MakeArchScans(clusters * leavesPerCluster, surfelsPerScan, 7, unordered);
    std::mt19937 random(11);
    auto root = manager.CreateInnerNode();
    for (uint32_t c = 0; c < clusters; ++c) {
        auto cluster = manager.CreateInnerNode();
        const CbMatrix4Rd clusterTrafo = randomRigid(random, 5.0, 2.0);
        cluster->SetRelativeTrafo(clusterTrafo);
        manager.AppendChild(root, cluster, true);
        CbSmartPointer<KaCTransformationNodeInner> collector;
        for (int part = 0; part < 3; ++part) {  // optimizer, collector, clipboard
            auto inner = manager.CreateInnerNode();
            manager.AppendChild(cluster, inner, true);
            if (part == 1) {
                collector = inner;
            }
        }
        hangBalanced(manager, collector, clusterTrafo, scans, size_t{c} * leavesPerCluster,
                     size_t{c + 1} * leavesPerCluster, maxChildren, random);
    }
    return root;
}

std::vector<CbSmartPointer<KaCTransformationNodeInner>> InnerNodesBottomUp(
    const CbSmartPointer<KaCTransformationNodeInner>& root) {
    std::vector<CbSmartPointer<KaCTransformationNodeInner>> order;
    std::function<void(const CbSmartPointer<KaCTransformationNodeInner>&)> visit =
        [&](const CbSmartPointer<KaCTransformationNodeInner>& node) {
            for (auto child = node->BeginChild(); child != node->EndChild(); ++child) {
                if (!(*child)->IsLeaf()) {
                    visit(CbSmartPointer<KaCTransformationNodeInner>(
                        static_cast<KaCTransformationNodeInner*>(child->Get())));
                }
            }
            order.push_back(node);
        };
    visit(root);
    return order;
}

FloorData MakeFloorData(const std::vector<Scan>& scans) {
    FloorData data;
    size_t total = 0;
    for (const Scan& scan : scans) {
        const auto collection =
            scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
        data.positions.push_back(
            static_cast<const CbVector3f*>(collection->GetPositionAccessor().GetData()));
        data.normals.push_back(
            static_cast<const uint16_t*>(collection->GetNormalAccessor().GetData()));
        data.counts.push_back(collection->GetNrSurfels());
        data.trafos.emplace_back(scan.pose);
        total += collection->GetNrSurfels();
    }
    data.outPositions.assign(3 * total, 0.0f);
    data.outNormals.assign(total, 0);
    return data;
}

}  // namespace ModelBuildingData
