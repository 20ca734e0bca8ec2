#include "tests/support/TreeTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "platform/granary/KaCSurfel.h"

namespace TreeTestSupport {

KaCTransformationNodeManager& Manager() {
    return KaCTransformationNodeManager::GetInstance();
}

CbSmartPointer<KaCModelCCT> MakeModel(uint32_t count, uint32_t seed, uint64_t sequenceNumber) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (uint32_t i = 0; i < count; ++i) {
        KaCSurfel surfel;
        surfel.position = {coordinate(random), coordinate(random), coordinate(random)};
        surfel.normal = CbVector3f(coordinate(random), coordinate(random), 1.0f).Normalized();
        surfel.color = {static_cast<uint8_t>(i), static_cast<uint8_t>(seed), 7};
        surfel.curvature = static_cast<uint8_t>(i * 3);
        surfel.quality = 0.5f + static_cast<float>(i % 5) * 0.1f;
        surfel.tissueType = static_cast<uint8_t>(i % 3);
        surfel.boundary = (i % 4) == 0;
        collection->AddSurfel(surfel);
    }
    CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(collection, true);
    model->SetAcquireSequenceNumber(sequenceNumber);
    return model;
}

CbMatrix4Rd RandomRigid(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    double x = unit(random), y = unit(random), z = unit(random);
    double length = std::sqrt(x * x + y * y + z * z);
    if (length < 1e-3) {
        x = 1.0;
        length = 1.0;
    }
    x /= length;
    y /= length;
    z /= length;
    double angle = unit(random) * 3.0;
    double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    // Rotation about (x, y, z) for row vectors (the transpose of the column-vector form).
    CbMatrix4Rd m(std::array<double, 16>{t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0,  //
                                         t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0,  //
                                         t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0,  //
                                         10 * unit(random), 10 * unit(random), 10 * unit(random),
                                         1});
    return m;
}

CbMatrix4Rd RandomAffine(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    CbMatrix4Rd m = RandomRigid(random);
    for (int i = 0; i < 12; ++i) {
        if (i % 4 != 3) {
            m[static_cast<size_t>(i)] += 0.3 * unit(random);
        }
    }
    return m;
}

::testing::AssertionResult Near(const CbMatrix4Rd& expected, const CbMatrix4Rd& actual,
                                double tolerance) {
    for (size_t i = 0; i < 16; ++i) {
        if (!(std::fabs(expected[i] - actual[i]) <= tolerance)) {
            return ::testing::AssertionFailure()
                   << "value " << i << ": expected " << expected[i] << ", got " << actual[i];
        }
    }
    return ::testing::AssertionSuccess();
}

Inner NamedTree::inner(const std::wstring& name) const {
    return CbDynamicCast<KaCTransformationNodeInner>(nodes.at(name));
}

Leaf NamedTree::leaf(const std::wstring& name) const {
    return CbDynamicCast<KaCTransformationNodeLeaf>(nodes.at(name));
}

namespace {

class ShapeParser {
public:
    ShapeParser(const std::string& shape, std::mt19937& random, bool withModels,
                const std::vector<std::string>& empty, NamedTree& tree)
        : m_shape(shape)
        , m_random(random)
        , m_withModels(withModels)
        , m_empty(empty)
        , m_tree(tree) {}

    Node parseNode() {
        std::string name;
        while (m_position < m_shape.size() &&
               std::isalnum(static_cast<unsigned char>(m_shape[m_position]))) {
            name.push_back(m_shape[m_position++]);
        }
        if (name.empty()) {
            throw std::invalid_argument("tree shape: name expected at " +
                                        std::to_string(m_position));
        }
        Node node;
        bool isInner =
            peek('(') || std::find(m_empty.begin(), m_empty.end(), name) != m_empty.end();
        if (isInner) {
            Inner inner = Manager().CreateInnerNode();
            if (peek('(')) {
                ++m_position;
                do {
                    Manager().AppendChild(inner, parseNode(), true);
                } while (accept(','));
                if (!accept(')')) {
                    throw std::invalid_argument("tree shape: ')' expected");
                }
            }
            node = inner;
        } else {
            node = Manager().CreateLeafNode(m_withModels ? MakeModel(3, ++m_seed) : nullptr);
        }
        std::wstring wideName(name.begin(), name.end());
        node->SetDescription(wideName);
        node->SetRelativeTrafo(RandomRigid(m_random));
        m_tree.nodes[wideName] = node;
        return node;
    }

private:
    bool peek(char c) const { return m_position < m_shape.size() && m_shape[m_position] == c; }
    bool accept(char c) {
        if (!peek(c)) {
            return false;
        }
        ++m_position;
        return true;
    }

    const std::string& m_shape;
    std::mt19937& m_random;
    bool m_withModels;
    const std::vector<std::string>& m_empty;
    NamedTree& m_tree;
    size_t m_position = 0;
    uint32_t m_seed = 100;
};

}  // namespace

NamedTree BuildTree(const std::string& shape, std::mt19937& random, bool withModels,
                    const std::vector<std::string>& emptyInner) {
    NamedTree tree;
    ShapeParser parser(shape, random, withModels, emptyInner, tree);
    tree.root = CbDynamicCast<KaCTransformationNodeInner>(parser.parseNode());
    if (!tree.root) {
        throw std::invalid_argument("tree shape: the top node must be an inner node");
    }
    return tree;
}

Inner BuildRandomTree(std::mt19937& random, int nodes) {
    Inner root = Manager().CreateInnerNode();
    root->SetDescription(L"RandomRoot");
    root->SetRelativeTrafo(RandomRigid(random));
    std::vector<Inner> inners{root};
    std::uniform_int_distribution<int> kind(0, 9);
    uint32_t seed = 1;
    for (int i = 1; i < nodes; ++i) {
        Inner father = inners[std::uniform_int_distribution<size_t>(0, inners.size() - 1)(random)];
        Node node;
        if (kind(random) < 3) {
            Inner inner = Manager().CreateInnerNode();
            inners.push_back(inner);
            node = inner;
        } else {
            node = Manager().CreateLeafNode(MakeModel(1 + seed % 4, seed, seed * 7 % 13));
            ++seed;
        }
        node->SetDescription(L"N" + std::to_wstring(i));
        node->SetRelativeTrafo(RandomRigid(random));
        Manager().AppendChild(father, node, true);
    }
    return root;
}

void TreeFixture::SetUp() {
    m_registeredAtStart = m_manager.GetNrRegisteredNodes();
}

void TreeFixture::TearDown() {
    if (Node root = m_manager.GetRootNode()) {
        KaCTransformationNodeManager::WriteHandle handle =
            m_manager.GetSingleWriteHandleLocked(root);
        m_manager.UnsetRootNode();
    }
    EXPECT_TRUE(m_manager.UnsetDataManager());
    for (const Node& node : m_manager.GetRegisteredNodes()) {
        m_manager.DeleteNode(node);
    }
    EXPECT_EQ(m_registeredAtStart, 0u) << "a test ran after one that left nodes registered";
}

}  // namespace TreeTestSupport
