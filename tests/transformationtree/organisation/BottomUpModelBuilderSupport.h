#pragma once

// Helpers of the bottom-up model builder tests: random trees of several shapes whose leaves
// hold random surfels of a chosen attribute set, and snapshots of every inner node's model
// (its geometry record, byte for byte, and its revision stamp) to compare runs.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

namespace bottomuptest {

using TreeTestSupport::Inner;
using TreeTestSupport::Manager;

enum EShape { eWide, eDeep, eBalanced, eRandom };

inline const char* ShapeName(EShape shape) {
    return shape == eWide       ? "wide"
           : shape == eDeep     ? "deep"
           : shape == eBalanced ? "balanced"
                                : "random";
}

// Surfels spread over a few millimetres, so that grid cells of 0.5 mm gather several.
inline CbSmartPointer<KaCModelCCT> RandomModel(std::mt19937& random,
                                               KaCSurfelContainer::ESurfelAttributeSet set,
                                               uint32_t count) {
    std::uniform_real_distribution<float> position(-3.0f, 3.0f), unit(-1.0f, 1.0f),
        quality(0.0f, 1.0f);
    std::uniform_int_distribution<int> byte(0, 255);
    auto collection = CbMakeShared<KaCSurfelCollectionCCT>(set);
    collection->Reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        KaCSurfel surfel;
        surfel.position = {position(random), position(random), position(random)};
        surfel.normal = {unit(random), unit(random), 1.0f};
        surfel.color = {static_cast<uint8_t>(byte(random)), static_cast<uint8_t>(byte(random)),
                        static_cast<uint8_t>(byte(random))};
        surfel.curvature = static_cast<uint8_t>(byte(random));
        surfel.quality = quality(random);
        surfel.tissueType = static_cast<uint8_t>(byte(random) % 3);
        surfel.boundary = byte(random) < 32;
        collection->AddSurfel(surfel);
    }
    return KaCModelCCT::Create(collection, true);
}

// A leaf with a random model (or none when `withModel` is false) and a random rigid trafo.
inline CbSmartPointer<KaCTransformationNodeLeaf> AddLeaf(
    std::mt19937& random, const Inner& father, KaCSurfelContainer::ESurfelAttributeSet set,
    bool withModel = true) {
    std::uniform_int_distribution<uint32_t> count(1, 120);
    auto leaf = Manager().CreateLeafNode(withModel ? RandomModel(random, set, count(random))
                                                   : CbSmartPointer<KaCModelCCT>());
    leaf->SetRelativeTrafo(TreeTestSupport::RandomRigid(random));
    Manager().AppendChild(father, leaf, true);
    return leaf;
}

inline Inner AddInner(std::mt19937& random, const Inner& father) {
    Inner inner = Manager().CreateInnerNode();
    inner->SetRelativeTrafo(TreeTestSupport::RandomRigid(random));
    Manager().AppendChild(father, inner, true);
    return inner;
}

// About `leaves` leaves below a new root:
//  wide      the root with many inner children of 1 to 3 leaves, and leaves of its own;
//  deep      a spine of inner nodes, each with a leaf and now and then a short side branch;
//  balanced  at most 4 children per inner node, leaves at the bottom;
//  random    leaves and inner nodes (some empty) hung below random inner nodes.
inline Inner RandomTree(std::mt19937& random, EShape shape, uint32_t leaves,
                        KaCSurfelContainer::ESurfelAttributeSet set) {
    Inner root = Manager().CreateInnerNode();
    root->SetRelativeTrafo(TreeTestSupport::RandomRigid(random));
    std::uniform_int_distribution<int> dice(0, 5);
    switch (shape) {
        case eWide:
            for (uint32_t placed = 0; placed < leaves;) {
                if (dice(random) == 0) {
                    AddLeaf(random, root, set);
                    ++placed;
                    continue;
                }
                Inner group = AddInner(random, root);
                for (int i = 0, n = 1 + dice(random) % 3; i < n; ++i, ++placed) {
                    AddLeaf(random, group, set);
                }
            }
            break;
        case eDeep: {
            Inner spine = root;
            for (uint32_t placed = 0; placed < leaves; ++placed) {
                AddLeaf(random, spine, set);
                if (dice(random) == 0) {
                    Inner side = AddInner(random, spine);
                    AddLeaf(random, AddInner(random, side), set);
                }
                spine = AddInner(random, spine);
            }
            break;
        }
        case eBalanced: {
            std::vector<Inner> level{root};
            uint32_t capacity = 4;
            while (capacity < leaves) {
                std::vector<Inner> next;
                for (const Inner& father : level) {
                    for (int i = 0; i < 4; ++i) {
                        next.push_back(AddInner(random, father));
                    }
                }
                level = std::move(next);
                capacity *= 4;
            }
            for (uint32_t i = 0; i < leaves; ++i) {
                AddLeaf(random, level[i % level.size()], set);
            }
            break;
        }
        case eRandom: {
            std::vector<Inner> inners{root};
            for (uint32_t placed = 0; placed < leaves;) {
                const Inner father =
                    inners[std::uniform_int_distribution<size_t>(0, inners.size() - 1)(random)];
                if (dice(random) < 2) {
                    inners.push_back(AddInner(random, father));
                } else {
                    AddLeaf(random, father, set);
                    ++placed;
                }
            }
            break;
        }
    }
    return root;
}

// The inner nodes of the subtree in post-order (the builder's one-thread order).
inline void InnerNodesPostOrder(const Inner& node, std::vector<Inner>& out) {
    for (auto child = node->BeginChild(); child != node->EndChild(); ++child) {
        if (!(*child)->IsLeaf()) {
            InnerNodesPostOrder(Inner(static_cast<KaCTransformationNodeInner*>(child->Get())), out);
        }
    }
    out.push_back(node);
}

inline std::vector<Inner> InnerNodesPostOrder(const Inner& root) {
    std::vector<Inner> out;
    InnerNodesPostOrder(root, out);
    return out;
}

// What a node's model slot holds: the model's geometry record (empty without a model),
// the model's identity and the revision stamp.
struct ModelState {
    std::vector<uint8_t> geometry;
    const KaCModelCCT* model = nullptr;
    int64_t stamp = -1;
};

inline std::vector<uint8_t> GeometryOf(const CbSmartPointer<const KaCModelCCT>& model) {
    if (!model) {
        return {};
    }
    CbStreamWriteBinaryBuffer stream;
    model->SerializeGeometry(stream);
    return stream.TakeBuffer();
}

inline std::vector<ModelState> Snapshot(const std::vector<Inner>& nodes) {
    std::vector<ModelState> states;
    for (const Inner& node : nodes) {
        CbSmartPointer<const KaCModelCCT> model = node->GetModel();
        states.push_back({GeometryOf(model), model.Get(), node->GetModelRevision()});
    }
    return states;
}

inline void DeleteModels(const std::vector<Inner>& nodes) {
    for (const Inner& node : nodes) {
        node->DeleteModel();
    }
}

// Every node's geometry record and stamp equal (not the model's identity: a new build
// makes new models).
inline ::testing::AssertionResult SameModels(const std::vector<ModelState>& expected,
                                             const std::vector<ModelState>& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure() << "node counts differ";
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].geometry != actual[i].geometry) {
            return ::testing::AssertionFailure()
                   << "node " << i << " of " << expected.size() << ": model records differ ("
                   << expected[i].geometry.size() << " and " << actual[i].geometry.size()
                   << " bytes)";
        }
        if (expected[i].stamp != actual[i].stamp) {
            return ::testing::AssertionFailure() << "node " << i << ": stamps " << expected[i].stamp
                                                 << " and " << actual[i].stamp;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace bottomuptest
