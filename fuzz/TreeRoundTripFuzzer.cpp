// Builds a tree from the input (each step takes a few bytes: where to attach, what kind of
// node, its transformation, flags, description and model), writes it, reads it back and
// requires the copy to equal the original.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_position >= m_size; }
    uint8_t Byte() { return m_position < m_size ? m_data[m_position++] : 0; }
    double Double() {
        double value = 0.0;
        uint8_t bytes[8] = {};
        for (uint8_t& b : bytes) {
            b = Byte();
        }
        std::memcpy(&value, bytes, sizeof(value));
        return value;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

CbSmartPointer<KaCModelCCT> model(Input& input) {
    auto collection = CbMakeShared<KaCSurfelCollectionCCT>(
        static_cast<KaCSurfelContainer::ESurfelAttributeSet>(input.Byte() % 3));
    for (uint8_t i = 0, n = input.Byte() % 4; i < n; ++i) {
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(input.Double()), static_cast<float>(input.Double()),
                           1.0f};
        surfel.color = {input.Byte(), 0, 0};
        collection->AddSurfel(surfel);
    }
    auto result = KaCModelCCT::Create(collection, true);
    result->SetAcquireSequenceNumber(input.Byte());
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    Input input(data, size);
    std::vector<CbSmartPointer<KaCTransformationNodeInner>> inners{manager.CreateInnerNode()};
    for (int step = 0; step < 64 && !input.Empty(); ++step) {
        CbSmartPointer<KaCTransformationNodeInner> father = inners[input.Byte() % inners.size()];
        uint8_t kind = input.Byte();
        CbSmartPointer<KaCTransformationNode> node;
        if (kind % 2 == 0) {
            auto inner = manager.CreateInnerNode();
            if (kind % 4 == 2) {
                inner->SetModel(model(input), static_cast<int8_t>(input.Byte()));
            }
            inners.push_back(inner);
            node = inner;
        } else {
            auto leaf = manager.CreateLeafNode(kind % 4 == 1 ? model(input) : nullptr);
            leaf->IsKeyframe((kind & 8) != 0);
            leaf->SetIsNewEntryScan((kind & 16) != 0);
            node = leaf;
        }
        CbMatrix4Rd trafo;
        for (size_t i = 0; i < 16; i += 1 + input.Byte() % 4) {
            trafo[i] = input.Double();
        }
        node->SetRelativeTrafo(trafo);
        node->SetVisible((kind & 32) != 0);
        node->SetDescription(
            std::wstring(input.Byte() % 5, static_cast<wchar_t>(0x60 + input.Byte() % 0x2000)));
        manager.AppendChild(father, node, true);
    }
    CbStreamWriteBinaryBuffer written;
    KaCTransformationTreeSerializer::Write(written, inners.front());
    CbStreamReadBinaryBuffer stream(written.GetData(), written.GetCount());
    CbSmartPointer<KaCTransformationNodeInner> read =
        KaCTransformationTreeSerializer::Read(stream, false);
    if (!KaCTransformationTreeComparator::FirstDifference(inners.front(), read).empty() ||
        stream.GetRemaining() != 0) {
        __builtin_trap();
    }
    for (const auto& node : manager.GetRegisteredNodes()) {
        manager.DeleteNode(node);
    }
    return 0;
}
