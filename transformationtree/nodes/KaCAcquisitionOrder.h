#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"

class KaCTransformationNode;

// The order in which scans were acquired: by the acquisition sequence number of a node's
// current model, nodes without a model after all others, ties broken by node ID so that
// the order is total. A strict weak ordering for std::sort; null smart pointers go after
// every node.
struct KaCAcquisitionOrder {
    // The model's sequence number, or the largest value for a node without a model.
    static uint64_t SequenceNumber(const KaCTransformationNode& node);

    bool operator()(const KaCTransformationNode& a, const KaCTransformationNode& b) const;
    template <class T, class U>
    bool operator()(const CbSmartPointer<T>& a, const CbSmartPointer<U>& b) const {
        if (!a || !b) {
            return a && !b;
        }
        return (*this)(*a, *b);
    }

    // Puts [first, last) into acquisition order by the node `nodeOf(element)` points to;
    // elements for which it gives null go last, in their relative order. The order is the
    // comparator's, but each node's sequence number (a virtual model look-up) and ID are
    // read once instead of on both sides of every comparison; the elements are then moved
    // into place, each once.
    template <class Iterator, class NodeOf>
    static void Sort(Iterator first, Iterator last, NodeOf nodeOf) {
        std::vector<const KaCTransformationNode*> nodes;
        nodes.reserve(static_cast<size_t>(std::distance(first, last)));
        for (Iterator it = first; it != last; ++it) {
            nodes.push_back(nodeOf(*it));
        }
        Permute(first, SortedOrder(nodes));
    }

    // Where each of `nodes` goes in acquisition order: element j of the result is the
    // index in `nodes` of the node for place j. Null nodes go last, in index order.
    static std::vector<size_t> SortedOrder(const std::vector<const KaCTransformationNode*>& nodes);

    // Moves the element at first[order[j]] to first[j] for every j, following the cycles
    // of the permutation: no second array of elements. `order` must be a permutation of
    // 0 .. order.size() - 1.
    template <class Iterator>
    static void Permute(Iterator first, std::vector<size_t> order) {
        for (size_t start = 0; start < order.size(); ++start) {
            if (order[start] == start) {
                continue;  // in place, or placed by an earlier cycle
            }
            auto held = std::move(first[start]);
            size_t place = start;
            while (order[place] != start) {
                const size_t from = order[place];
                first[place] = std::move(first[from]);
                order[place] = place;
                place = from;
            }
            first[place] = std::move(held);
            order[place] = place;
        }
    }
};
