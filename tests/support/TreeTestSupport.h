#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"

// Building blocks for tests of the transformation tree: models, named tree shapes,
// random transformations and trees, and a fixture that leaves the node manager as it
// found it.
namespace TreeTestSupport {

using Inner = CbSmartPointer<KaCTransformationNodeInner>;
using Leaf = CbSmartPointer<KaCTransformationNodeLeaf>;
using Node = CbSmartPointer<KaCTransformationNode>;

KaCTransformationNodeManager& Manager();

// A model of `count` surfels at deterministic positions derived from `seed`, in the full
// attribute set (colour, curvature, quality), with the given acquisition sequence number.
CbSmartPointer<KaCModelCCT> MakeModel(uint32_t count, uint32_t seed = 1,
                                      uint64_t sequenceNumber = 0);

// A rigid transformation (rotation about an axis through the origin, then a translation)
// drawn from `random`.
CbMatrix4Rd RandomRigid(std::mt19937& random);
// An arbitrary invertible, non-rigid matrix, to make products order-sensitive.
CbMatrix4Rd RandomAffine(std::mt19937& random);

// True when all 16 values differ by at most `tolerance`.
::testing::AssertionResult Near(const CbMatrix4Rd& expected, const CbMatrix4Rd& actual,
                                double tolerance = 1e-9);

// A named tree, every node described by its name and given a distinct random trafo.
struct NamedTree {
    Inner root;
    std::map<std::wstring, Node> nodes;
    Node operator[](const std::wstring& name) const { return nodes.at(name); }
    Node operator[](const char* name) const {
        return nodes.at(std::wstring(name, name + std::char_traits<char>::length(name)));
    }
    Inner inner(const std::wstring& name) const;
    Leaf leaf(const std::wstring& name) const;
};

// Builds a tree from a compact form: "R(A(A1,A2),B)". Names that have a parenthesised
// list are inner nodes; every other name is a leaf (with a model of 3 surfels unless
// `withModels` is false), except that names listed in `emptyInner` are inner nodes
// without children.
NamedTree BuildTree(const std::string& shape, std::mt19937& random, bool withModels = true,
                    const std::vector<std::string>& emptyInner = {});

// A random tree of about `nodes` nodes below a new root: inner nodes (some empty) and
// leaves with models, random rigid trafos.
Inner BuildRandomTree(std::mt19937& random, int nodes);

// Leaves the node manager as the test found it: at TearDown, unsets a root that the test
// set (taking write access to it), unbinds the data manager, and drops every node the test
// registered.
class TreeFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    KaCTransformationNodeManager& m_manager = Manager();
    std::mt19937 m_random{12345};

private:
    size_t m_registeredAtStart = 0;
};

// One fixture per area of the library, so that a failing test's name says where to look.
class NodesTest : public TreeFixture {};
class ManagerTest : public TreeFixture {};
class IteratorsTest : public TreeFixture {};
class PersistenceTest : public TreeFixture {};
class NodeVectorsTest : public TreeFixture {};
class OrganisationTest : public TreeFixture {};

}  // namespace TreeTestSupport
