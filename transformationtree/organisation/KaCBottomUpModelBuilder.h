#pragma once

#include <cstdint>

#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// Builds the model of every inner node of a subtree (the top included) from the models
// below it: CreateModel on each inner node, each after every inner node below it, so that
// each build reads its inner children's fresh models and the leaves' models. Independent
// subtrees are built on several threads.
//
// The one-thread order is post-order: the inner children first to last, each with its
// subtree, then the node. The result does not depend on the threads: a node's model
// depends only on the models of its cached leaves (its leaf children and its inner
// children, built before it), and each CreateModel runs on one thread from start to end,
// with the floating-point settings of the calling thread. So the models are those of the
// one-thread run bit for bit (surfels, their order, bounding boxes). Only the models' IDs
// differ, which are random in every run.
//
// Failure: when CreateModel throws for some node, Build rethrows the exception of the node
// that comes first in the one-thread order and leaves the subtree as the one-thread run
// leaves it: every node before it in that order has its new model; that node and every
// node after it keep the model and revision stamp they had. To restore them, a run on
// several threads holds each replaced model until it returns (a rebuild of a subtree that
// already has models needs memory for both sets meanwhile); nodes it can tell will not
// count are not built at all.
//
// Threads: `threads` 0 runs in the task arena of the calling thread, which has all cores
// unless the caller runs Build inside a tbb::task_arena of its own or limits parallelism
// with a tbb::global_control; 1 builds on the calling thread alone; n > 1 uses an arena of
// n threads (at most as many as the process's oneTBB allows, by default the number of
// cores). In builds with ThreadSanitizer the threads are std::threads instead of oneTBB's
// (whose own synchronisation ThreadSanitizer cannot see): the same scheduling, checked.
//
// Thread safety: nothing but CreateModel touches the nodes, and CreateModel draws no node
// revision, posts no message and writes no log line; the surfel memory pool, the ID
// generators and the reference counts it uses are safe on any thread. The caller holds
// write access to the subtree for the whole call (the threads work on its behalf), and
// nothing else may change the subtree's structure or models meanwhile.
class KaCBottomUpModelBuilder {
public:
    struct Options {
        bool useCollectionType4 = false;  // CreateModel's arguments
        float cellSize = 0.0f;
        float samplerParameter = 0.0f;
        uint32_t threads = 0;  // 0: the calling thread's arena (all cores by default)
    };

    // A null top does nothing. Throws what CreateModel throws (see above).
    static void Build(const CbSmartPointer<KaCTransformationNodeInner>& top,
                      const Options& options);
    // The number of threads Build uses for `threads`.
    static uint32_t GetThreadCount(uint32_t threads);
};
