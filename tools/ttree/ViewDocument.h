#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/ttree/ViewPoints.h"
#include "transformationtree/persistence/KaCSessionFile.h"

// What the page of `ttree view` shows of a session, gathered from the read tree: the nodes
// of the shown subtree in pre-order (the first is the shown node), and the point clouds —
// one per scan, one per inner node with a subsampled model of its own — all carried into
// the session frame (the root's frame, millimetres) and held together in one ViewPoints.
//
// Size: when the scans and models hold more surfels than `maxPoints`, every cloud is
// thinned out on one grid (KaCGridSampler, cells aligned with the session frame) whose
// cell is the smallest tried that brings the total to `maxPoints` or fewer: cells grow
// from 0.05 mm, each step by the factor the count says (the count of a surface sample falls
// with the square of the cell), by at least a quarter, rounded up to two significant
// digits. A `cellSize` above 0 thins out on
// that cell whatever the count. Models are kept as the session has them otherwise; so are
// the scans, at full resolution.
//
// Faults throw CbException: an unknown or malformed node ID, a cell that is negative or not
// finite, a session that does not fit even on 1000 mm cells. Not synchronised.
class ViewDocument {
public:
    struct Options {
        std::string node;  // ID as `ttree tree` shows it; empty: the root
        float cellSize = 0.0f;
        uint64_t maxPoints = c_defaultMaxPoints;
    };

    enum class EKind { eRoot, eCluster, eInner, eScan };

    struct Node {
        std::string id;  // "{...}", as `ttree tree` prints it
        std::string description;
        EKind kind;
        int32_t parent;  // index in GetNodes(); -1 for the first
        uint32_t depth;  // levels below the session's root
        // Index of the cluster node at or above this one; 0 (the shown node stands for it)
        // when that cluster lies above the shown node; -1 for none.
        int32_t cluster;
        std::vector<uint32_t> children;
        uint64_t surfels = 0;              // a scan's surfels in the session (not thinned out)
        std::optional<uint64_t> sequence;  // a scan's acquisition sequence number
        bool keyframe = false;
        int32_t scanCloud = -1;   // a scan's cloud, index in GetClouds()
        int32_t modelCloud = -1;  // an inner node's model, index in GetClouds()
    };

    // A run of points in GetPoints().
    struct Cloud {
        uint32_t node;   // index in GetNodes()
        bool model;      // an inner node's model, else a scan
        uint64_t first;  // first point
        uint64_t count;
    };

    ViewDocument(const KaCSessionFile::Contents& session, const Options& options);

    const std::vector<Node>& GetNodes() const { return m_nodes; }
    const std::vector<Cloud>& GetClouds() const { return m_clouds; }
    const ViewPoints& GetPoints() const { return m_points; }
    uint64_t GetScanCount() const { return m_scanCount; }
    // The points of the scans' clouds and of the models' clouds (together GetPoints()).
    uint64_t GetScanPoints() const { return m_scanPoints; }
    uint64_t GetModelPoints() const { return m_modelPoints; }
    // Surfels of the scans and models before any thinning.
    uint64_t GetSourceSurfels() const { return m_sourceSurfels; }
    // The grid cell the clouds were thinned out on, in mm; 0 when they were not.
    float GetCellSize() const { return m_cellSize; }
    bool IsSubsampled() const { return m_cellSize > 0.0f; }
    // The grid cell of the inner nodes' models as the session records it, 0 if unknown.
    float GetModelCellSize() const { return m_modelCell; }
    // An estimate of the distance between neighbouring points, in mm, for the splat size.
    float GetPointSpacing() const { return m_spacing; }

    static constexpr uint64_t c_defaultMaxPoints = 3'000'000;

private:
    struct Source;

    void addNode(const KaCTransformationNode& node, int32_t parent, uint32_t depth, int32_t cluster,
                 const CbMatrix4Rd& trafo, std::vector<Source>& sources);
    float chooseCell(const std::vector<Source>& sources, const Options& options) const;
    void fillPoints(const std::vector<Source>& sources);
    float estimateSpacing() const;

    std::vector<const KaCTransformationNode*> m_clusterNodes;
    std::vector<Node> m_nodes;
    std::vector<Cloud> m_clouds;
    ViewPoints m_points;
    uint64_t m_scanCount = 0;
    uint64_t m_sourceSurfels = 0;
    uint64_t m_scanPoints = 0;
    uint64_t m_modelPoints = 0;
    float m_cellSize = 0.0f;
    float m_modelCell = 0.0f;
    float m_spacing = 0.2f;
};
