#pragma once

#include <cstdint>

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
};
