#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// Writes and reads a whole tree in one call: every node's instantiation record, the
// models its nodes refer to, every structure record and every node's attributes, in the
// order the records require. This is the way to persist a tree; the record-level
// operations it is built from (node instantiation and references, structure records,
// model references) only work in this order.
//
// Record, version 1: version (unsigned 32-bit); node count n; n node-for-instantiation
// records (class name, ID) in walk order, the root first; model count m; m model records;
// n structure records and then n attribute records, both in the same order as the nodes.
//
// Reading returns a complete tree or throws, never a part of one: it checks the version
// (CbExceptionWrongFileVersion), every count against the bytes left, every class name,
// that node IDs are valid and unique, that model IDs are unique and every model reference
// names a model of the record, that fathers and child lists agree and form one tree below
// the first node (CbException otherwise), and that the tree is at most c_maxDepth deep, so
// that everything that later walks or releases it recursively stays within the stack.
// Reading pushes the global revision counter above every revision it meets.
//
// Thread safety: both operations hold the node and model serialization mappers' locks for
// their whole run and leave the mappers empty, so calls from several threads serialise.
// Writing reads the tree: callers that share it hold read access to its root.
class KaCTransformationTreeSerializer {
public:
    static constexpr uint32_t c_version = 1;
    // Deepest tree that reading accepts (levels below the root).
    static constexpr uint32_t c_maxDepth = 2048;
    // The fewest bytes a node takes in a tree record: a node-for-instantiation record of the
    // shorter node class name (KaCTransformationNodeLeaf, 70 bytes), the smallest structure
    // record (a leaf of version 1, 209 bytes) and an empty attribute container (8 bytes).
    // Reading refuses a node count that the bytes left cannot hold at this size, so a record
    // of n bytes makes at most n / 287 nodes.
    static constexpr uint64_t c_minimumNodeBytes =
        (4 + 2 * std::wstring_view(L"KaCTransformationNodeLeaf").size() + 16) +
        (4 + 16 + 16 + (4 + 16 * 8) + 4 + 16 + 8 + 8 + 1 + 4) + (4 + 4);

    static void Write(CbStreamWriteBinary& stream,
                      CbSmartPointer<const KaCTransformationNodeInner> root);

    // The tree read from `stream`. With `registerNodes`, every node is registered with the
    // node manager (see KaCTransformationNodeManager::RegisterSubtree), which refuses IDs
    // that name other nodes already registered; without, the caller owns an unregistered
    // tree (to compare it with another, for instance).
    static CbSmartPointer<KaCTransformationNodeInner> Read(CbStreamReadBinary& stream,
                                                           bool registerNodes = true);

private:
    struct TreeContents;
    // The nodes and models below `root`, in the order they are written.
    static TreeContents contentsOf(const KaCTransformationNodeInner& root);
    // Takes every child list apart, so that nodes read from a record that failed its checks
    // (which may hold cycles) are released without recursion. No walk has seen these nodes,
    // so no walk generation is raised: climbing their father links could go round a cycle
    // for ever.
    static void dismantle(const std::vector<CbSmartPointer<KaCTransformationNode>>& nodes);
    // Throws unless the nodes read form one tree below the first (see the definition);
    // `walkedInRecordOrder` tells that RecordOrderWalk found it one already.
    static void checkTree(const std::vector<CbSmartPointer<KaCTransformationNode>>& nodes,
                          bool walkedInRecordOrder);
    // checkTree's full walk, checking every child list, throwing on the first fault found.
    static void walkTree(const std::vector<CbSmartPointer<KaCTransformationNode>>& nodes);

    // The walk from the first node read, taken a node at a time as the structure records are
    // read, in record order. A node's record sets only its own father link and child list,
    // so once it has been read, the step to it sees what the finished tree will hold: a walk
    // that meets every node in record order, each below the father that lists it and
    // within the depth limit, is the walk checkTree would take. It throws nothing; at the
    // first node out of order it stops, and checkTree walks the finished tree.
    class RecordOrderWalk {
    public:
        // The step to the node whose structure record was read last (the first node first).
        void Step(const KaCTransformationNode& node);
        // After the last step: whether the walk met every node in record order and no child
        // list holds more.
        bool MetAllInOrder();

    private:
        void popFinishedLevels();

        std::vector<std::pair<const KaCTransformationNodeInner*, size_t>> m_path;
        bool m_started = false;
        bool m_inOrder = true;
    };
};
